-- A memory limit that is no size.
-- args: --max-memory 12Q
-- exit: 1
-- stderr: vemora: --max-memory: "12Q" is not a size (give bytes, or a number with K, M or G)
load("argprobe")
argprobe(0, 0.1, 1)
