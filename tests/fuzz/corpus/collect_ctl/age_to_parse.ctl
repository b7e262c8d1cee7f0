cursor A;
  INSERT INTO t.a (n) VALUES (:n);
  age_to TOOLONGNAME;
  age_to B;
  dummy_last_row;
  conditional_dummy_last_row;
cursor B;
  INSERT INTO t.a (n) VALUES (:n);
end;
