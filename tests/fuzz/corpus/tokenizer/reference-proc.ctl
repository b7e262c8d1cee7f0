; Distributors of the demo collector.
; The "collector" block carries the logon data and the collection interval.
process collector;
  type local;
  logon_id monitor;
  interval 5;
  Mon_Fri_start 0000;
  Mon_Fri_end 2400;
  class 3;
; Serves the agent's requests every 5 seconds.
process upa;
  type local;
  interval 5;
; Writes history once an hour, only on working days from 7 to 19 o'clock.
process historian;
  type local;
  interval 3600;
  Mon_Fri_start 0700;
  Mon_Fri_end 1900;
  Saturday_start 0000;
  Saturday_end 0000;
  Sunday_start 0000;
  Sunday_end 0000;
sleep 30;
end;
