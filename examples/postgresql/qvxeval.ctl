; Evaluations of the PostgreSQL example, read at start-up because
; qvxproc.ctl has an "evaluator". Each block names a cursor and one of its
; columns, an operator (<, <=, =, <>, >=, >) and a value; the evaluator
; writes every row of the cursor whose column satisfies it. A number is
; compared as a number against a numeric column, anything else as text.
; A column may carry a function prefix (MIN!, MAX!, AVG!, SUM!, ...): the
; function's value over the cursor's rows is tested instead.
;
; More than 80% of max_connections in use.
eval connections_high;
  cursor CONNUSE;
  column used_pct;
  operator >;
  value 80;
; A database whose cache hit ratio fell under 90%.
eval cache_hit_low;
  cursor CACHELOW;
  column hit_pct;
  operator <;
  value 90;
; A replication slot holding more than 1 GB of WAL for its standby.
eval replication_lag;
  cursor SLOTLAG;
  column lag_bytes;
  operator >;
  value 1073741824;
end;
