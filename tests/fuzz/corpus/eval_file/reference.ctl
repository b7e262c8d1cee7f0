;; thresholds
eval busy;
  cursor CPUSTAT;
  column AVG!busy;
  operator >=;
  value 90;
EVAL who;
CURSOR SESSIONS;
COLUMN user_name;
OPERATOR <>;
VALUE 'postgres';
eval;
name
  split;
cursor SESSIONS; ignored
; comment
column cpu;
operator =<;
value -1.5e2;
end;
