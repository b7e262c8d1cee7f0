; Dictionary of the SQLite example.
name server_name;
  type CHAR(33);
  initial -rdbms 'sqlite';
end;
