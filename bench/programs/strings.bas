10 n = 0
20 FOR i = 1 TO 150000
30 a$ = "abc"
40 a$ = a$ + "def" + "ghi"
50 IF a$ = "abcdefghi" THEN n = n + 1
60 IF a$ < "abd" THEN n = n + 1
70 NEXT i
80 PRINT n
