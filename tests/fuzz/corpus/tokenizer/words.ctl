a<=b x||y 1.5E-3 -2 +.5 12abc :A.COL(1) t.* "dq" 'sq';
statement
  over
  three lines; ignored
; comment
w_o (inside) parens, list, 'q,x';
)unbalanced;
'unclosed;
