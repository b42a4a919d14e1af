10 DIM st(100)
20 sp = 0
30 n = 23
40 GOSUB 100
50 PRINT r
60 END
100 IF n >= 2 THEN 120
110 r = n
115 RETURN
120 sp = sp + 1
130 st(sp) = n
140 n = n - 1
150 GOSUB 100
160 st(sp) = st(sp) * 100000 + r
170 n = INT(st(sp) / 100000) - 2
180 GOSUB 100
190 r = r + (st(sp) MOD 100000)
200 sp = sp - 1
210 RETURN
