10 DIM a(50, 50)
20 t = 0
30 r = 0
40 WHILE r < 60
50 i = 0
60 WHILE i < 50
70 j = 0
80 WHILE j < 50
90 a(i, j) = i * j + r
100 t = t + a(i, j)
110 j = j + 1
120 WEND
130 i = i + 1
140 WEND
150 r = r + 1
160 WEND
170 PRINT t
