10 s = 0
20 FOR i = 1 TO 400000
30 s = s + (i MOD 7) * 3 - 2
40 NEXT i
50 PRINT s
