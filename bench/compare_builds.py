#!/usr/bin/env python3
"""Renders bench/peers workloads with two builds, alternating, and prints the
median CPU time of each and whether their samples are identical.

    bench/compare_builds.py OLD_BUILD NEW_BUILD w0_silence,w1_oscbank,w5_manynotes [RUNS]

A build is a build folder (BUILD/bin/vemora, BUILD/test-plugins). Samples are
compared as 32-bit floats through sox, so a header that differs does not
count. Needs python3 and sox.
"""
import os
import resource
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def render(build, workload, out):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([os.path.join(build, 'bin', 'vemora'), '-q', '--plugin-path', os.path.join(build, 'test-plugins'),
                    '-o', out, os.path.join(HERE, 'peers', workload + '.lua')],
                   check=True, cwd='/tmp', stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def samples(path):
    return subprocess.run(['sox', path, '-t', 'f32', '-'], capture_output=True, check=True).stdout


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    builds = {'old': os.path.abspath(sys.argv[1]), 'new': os.path.abspath(sys.argv[2])}
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    for workload in sys.argv[3].split(','):
        times = {name: [] for name in builds}
        for run in range(runs + 1):  # the first run of each is a warm-up
            for name, build in builds.items():
                seconds = render(build, workload, f'/tmp/compare_{name}.wav')
                if run > 0:
                    times[name].append(seconds)
        same = samples('/tmp/compare_old.wav') == samples('/tmp/compare_new.wav')
        print(workload, ' '.join(f'{n}={statistics.median(t):.3f}s' for n, t in times.items()),
              'identical' if same else 'DIFFERENT', flush=True)


if __name__ == '__main__':
    main()
