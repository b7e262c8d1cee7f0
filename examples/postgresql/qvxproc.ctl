; Distributors of the PostgreSQL example.
; "collector" logs on with the logon id and collects the interval cursors
; every 30 seconds. Its password comes from the settings (-password or
; COLL_PASSWORD) or from a "password" line here; write it scrambled, as
; qvxpass makes it for this logon id and the collector's server id:
;   printf '%s\n' "$PW" | qvxpass monitor PGPROD
; A UID= and PWD= in COLL_CONNECT win over both.
process collector;
  type local;
  logon_id monitor;
;  password 3C88627E...;
  interval 30;
  Mon_Fri_start 0000;
  Mon_Fri_end 2400;
; Serves the agent's requests.
process upa;
  type local;
  interval 1;
; Writes the rows of every class-0 cursor to the message output, so they
; can be read without an agent.
process nupa;
  type local;
  interval 30;
; Appends the rows of the cursors marked "history" (DBHIT) to
; <cursor>.HST in the collector home.
process historian;
  type local;
  interval 30;
; Tests the rows of the cursors that qvxeval.ctl names against their
; thresholds and writes each row that passes one to the message output.
process evaluator;
  type local;
  interval 30;
end;
