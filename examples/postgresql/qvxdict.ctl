; Dictionary of the PostgreSQL example.
name server_name;
  type CHAR(33);
  initial -rdbms 'postgresql';
end;
