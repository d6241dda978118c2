<CsoundSynthesizer>
<CsOptions>
-d -m0 --nodisplays -W -f
</CsOptions>
<CsInstruments>
sr     = 44100
ksmps  = 32      ; set from the command line with --ksmps=N
nchnls = 2
0dbfs  = 1

; The SCULPT oscillator bank for Csound: 64 voices x 60 s, each an oscili
; on a 1024-point sine, amplitude 1/64. Voice i steps every 0.5 s through
; 100 x 2^(((5i + 7j) mod 48) / 12) Hz, j the step, read from table 2
; (entry 120 i + j, filled once here); it sits at p = i/63 of the stereo
; field, left gain p and right gain 1 - p, as SCULPT splits.
gisine ftgen 1, 0, 1024, 10, 1
gifreq ftgen 2, 0, 8192, -2, 0
iv = 0
until iv == 64 do
  is = 0
  until is == 120 do
    tableiw 100 * 2 ^ (((5 * iv + 7 * is) % 48) / 12), iv * 120 + is, gifreq
    is += 1
  od
  iv += 1
od

instr 1
  ivoice = p4
  ip     = ivoice / 63
  kstep  = int(timeinsts() * 2)
  kf     table ivoice * 120 + kstep, gifreq
  asig   oscili 1/64, kf, gisine
         outs asig * ip, asig * (1 - ip)
endin
</CsInstruments>
<CsScore>
i1 0 60 0
i1 0 60 1
i1 0 60 2
i1 0 60 3
i1 0 60 4
i1 0 60 5
i1 0 60 6
i1 0 60 7
i1 0 60 8
i1 0 60 9
i1 0 60 10
i1 0 60 11
i1 0 60 12
i1 0 60 13
i1 0 60 14
i1 0 60 15
i1 0 60 16
i1 0 60 17
i1 0 60 18
i1 0 60 19
i1 0 60 20
i1 0 60 21
i1 0 60 22
i1 0 60 23
i1 0 60 24
i1 0 60 25
i1 0 60 26
i1 0 60 27
i1 0 60 28
i1 0 60 29
i1 0 60 30
i1 0 60 31
i1 0 60 32
i1 0 60 33
i1 0 60 34
i1 0 60 35
i1 0 60 36
i1 0 60 37
i1 0 60 38
i1 0 60 39
i1 0 60 40
i1 0 60 41
i1 0 60 42
i1 0 60 43
i1 0 60 44
i1 0 60 45
i1 0 60 46
i1 0 60 47
i1 0 60 48
i1 0 60 49
i1 0 60 50
i1 0 60 51
i1 0 60 52
i1 0 60 53
i1 0 60 54
i1 0 60 55
i1 0 60 56
i1 0 60 57
i1 0 60 58
i1 0 60 59
i1 0 60 60
i1 0 60 61
i1 0 60 62
i1 0 60 63
e
</CsScore>
</CsoundSynthesizer>
