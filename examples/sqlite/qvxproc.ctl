; Distributors of the SQLite example.
; "collector" drives the collection of the interval cursors every 5 seconds
; (SQLite has no users: the logon id is only shown in the output).
process collector;
  type local;
  logon_id monitor;
  interval 5;
  Mon_Fri_start 0000;
  Mon_Fri_end 2400;
; Serves the agent's requests.
process upa;
  type local;
  interval 5;
; Writes the rows of every class-0 cursor to the message output every
; 5 seconds, so they can be read without an agent.
process nupa;
  type local;
  interval 5;
end;
