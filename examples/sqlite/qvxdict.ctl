; Dictionary of the SQLite example.
name server_name;
  type CHAR(33);
  initial -rdbms 'sqlite';
; The columns of the virtual cursor SUMMARY, filled by loads.
name largest;
  type CHAR(64);
  initial 'none';
name tables;
  type INTEGER;
  initial 0;
name indexes;
  type INTEGER;
  initial 0;
; The columns of FIGURES, filled by the lines of its script.
name figure;
  type CHAR(16);
name amount;
  type INTEGER;
end;
