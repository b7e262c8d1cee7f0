// The scheduling loop: the collector's only main loop.
//
// Each pass takes its start time on the relative time scale, runs the
// collection pass when the "collector" distributor is due, runs every other
// due distributor by name, sleeps until the earliest due time and then does
// the end-of-pass housekeeping (commit, trace reset, state bits).
#include "collector/schedule.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "channel/evaluator.h"
#include "channel/serve_nupa.h"
#include "channel/serve_requests.h"
#include "channel/serve_wait.h"
#include "db/database.h"
#include "pipeline/cursor_run.h"
#include "pipeline/history.h"
#include "runtime/clock.h"
#include "collector/lifecycle.h"
#include "runtime/exit_path.h"
#include "runtime/messages.h"
#include "runtime/signals.h"
#include "runtime/trace.h"
#include "control/tracing.h"
#include "runtime/window.h"
#include "expr/versions.h"

namespace qvx {

namespace {

// Longest sleep when PROCESS.CTL gives no "sleep".
constexpr long kDefaultSleep = 60;

long last_version_update = 0;
bool request_served = false;  // the request queue answered in this pass

struct TimeOfDay {
    unsigned long sec;
    unsigned long usec;
};

TimeOfDay time_of_day() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return {static_cast<unsigned long>(tv.tv_sec), static_cast<unsigned long>(tv.tv_usec)};
}

// Acts on noted signals (a terminating one ends the collector there) and
// on the collector's own stop time. True when the loop must end.
bool stop_requested() {
    service_signals();
    if (!go_home && go_home_time > 0 && now_relative() >= go_home_time) go_home = 1;
    return go_home != 0;
}

long effective_sleep_limit() { return sleep_time > 0 ? sleep_time : kDefaultSleep; }

// Sleeps, waking early for a signal or the collector's own stop time.
void sleep_for(long seconds) {
    if (go_home_time > 0) seconds = std::min(seconds, std::max(0L, go_home_time - now_relative()));
    if (seconds > 0) interruptible_sleep(static_cast<double>(seconds));
}

// The nap of the request service: ends early when a request arrives.
void request_nap(long seconds) {
    if (go_home_time > 0) seconds = std::min(seconds, std::max(0L, go_home_time - now_relative()));
    if (seconds > 0) wait_for_request(ipc_ptr, static_cast<double>(seconds));
}

void record_run(distrib& d, bool failed) {
    d.last_time = get_time();
    d.last_status = failed ? "FAIL" : "GOOD";
}

bool class_enabled(int32_t class_no) {
    if (!collector_at) return class_no == 0;
    if (class_no < 0 || class_no >= static_cast<int32_t>(collector_at->class_sw.size())) return false;
    return collector_at->class_sw[static_cast<size_t>(class_no)] != 0;
}

// The request-queue service of the "upa" distributor: polls the queue, at
// most sleep_time apart, until a request is served or the next collection
// is due.
int serve_request_queue(distrib& d) {
    int ret = kNoRequest;
    for (;;) {
        const long collect_due = collector_at ? static_cast<long>(collector_at->next_time) : now_relative();
        ret = do_upa(std::max(0L, collect_due - now_relative()));
        if (debug_on(8)) PRINT('t', "cgn1533", "do_upa returned. ret = %d (100 = NO_REQUEST)\n", ret);
        if (stop_requested()) return ret;
        record_run(d, ret < 0);
        if (ret == 0) {
            request_served = true;
            return ret;
        }
        const long now = now_relative();
        const long collect_at = collector_at ? static_cast<long>(collector_at->next_time) : now;
        if (now >= collect_at) {
            if (debug_on(4))
                PRINT('t', "ZMS0003", "Go to collect at %d, collection time: %d\n", static_cast<int>(now),
                      static_cast<int>(collect_at));
            return ret;
        }
        const long nap = std::min(effective_sleep_limit(), collect_at - now);
        if (debug_on(4))
            PRINT('t', "ZMS0001",
                  "Go to sleep for %d sec at %d; %d sec remain(s) until next collection\n",
                  static_cast<int>(nap), static_cast<int>(now), static_cast<int>(collect_at - now));
        request_nap(nap);
        const long woke = now_relative();
        if (debug_on(4))
            PRINT('t', "ZMS0002", "Get up time: %d, next collection time: %d\n", static_cast<int>(woke),
                  static_cast<int>(collect_at));
        if (stop_requested()) return ret;
        if (woke >= collect_at) {
            if (debug_on(4))
                PRINT('t', "ZMS0004", "Go to collect at %d, collection time: %d\n", static_cast<int>(woke),
                      static_cast<int>(collect_at));
            return ret;
        }
    }
}

void run_upa(distrib& d, long) { serve_request_queue(d); }
void run_nupa(distrib& d, long now) { record_run(d, do_nupa(d, now) != 0); }
void run_evaluator(distrib& d, long now) { record_run(d, do_evaluator(now, d) != 0); }
void run_historian(distrib& d, long now) { record_run(d, do_history(secs_to_date(now)) != 0); }

// What a due distributor other than the collector does, by its name; one
// not listed is a plain distributor run at its own time offset.
struct DistributorAction {
    const char* name;
    void (*run)(distrib& d, long now);
};
constexpr std::array kDistributorActions{
    DistributorAction{"upa", run_upa},
    DistributorAction{"nupa", run_nupa},
    DistributorAction{"historian", run_historian},
    DistributorAction{"evaluator", run_evaluator},
};

void run_distributor(distrib& d, long now) {
    for (const DistributorAction& action : kDistributorActions) {
        if (d.distrib_name == action.name) {
            action.run(d, now);
            return;
        }
    }
    distribute(d, now + d.time_offset);
}

// Steps that bring the cursors up to date before a collection pass, in
// order (relative time of the pass).
struct PassStep {
    const char* name;
    void (*run)(long start);  // null while the step has no processing
};
constexpr std::array kPassSteps{
    PassStep{"versions", [](long) { tune_up_cursor_versions(form_time()); }},
};

void prepare_pass(long start) {
    last_version_update = start;
    for (const PassStep& step : kPassSteps)
        if (step.run) step.run(start);
}

void restart_collector() {
    PRINT('s', "cgn1522", "Restarting collector %s\n", form_time().c_str());
    restart_request = false;
    struct stat st{};
    if (saved_argv && saved_argv[0] && stat(saved_argv[0], &st) == 0 && S_ISREG(st.st_mode)) {
        quitting(-1);
        execv(saved_argv[0], saved_argv);
        std::abort();
    }
    interruptible_sleep(5.0);
}

void trace_distributor(const char* id, const char* lead, const distrib& d, long start) {
    const TimeOfDay t = time_of_day();
    PRINT('t', id,
          "%sschedule - d_ptr->distrib_name = %s, d_ptr->state = %lu, d_ptr->window_start = %lu, "
          "d_ptr->window_end = %lu, d_ptr->next_time = %lu, start_time = %lu:time = %lu sec %lu "
          "microsec\n",
          lead, d.distrib_name.c_str(), static_cast<unsigned long>(d.state),
          static_cast<unsigned long>(d.window_start), static_cast<unsigned long>(d.window_end),
          static_cast<unsigned long>(d.next_time), static_cast<unsigned long>(start), t.sec, t.usec);
}

[[noreturn]] void leave_loop() {
    if (database_info.connected) commit_collect(CommitMode::final);
    if (upa_channel_open() && term_upa_channel() != 0)
        PRINT('e', "cgn1523", "Error terminating UPA IPC environment\n");
    // A terminating signal ends through its own orderly path.
    service_signals();
    PRINT('a', "cgn1524", "Quit request received. %s\n", form_time().c_str());
    quitting(0);
    std::exit(0);
}

} // namespace

int distribute(distrib& d, long time) {
    PRINT('i', "cir1625", "Dist for %s at %s\n", d.distrib_name.c_str(), secs_to_date(time).c_str());
    return 0;
}

long sleep_seconds(long now) {
    long sleep = effective_sleep_limit();
    for (const auto& dp : distrib_anchor) {
        distrib& d = *dp;
        if (!(d.state & 1) || (d.hold == 'Y' && &d != collector_at)) continue;
        if (d.window_end <= now) set_window(d, now);
        // A distributor can run no earlier than its window opens.
        const long due = std::max<long>(d.next_time, d.window_start);
        if (debug_on(8))
            PRINT('t', "cgn1531",
                  "schedule - determine time to sleep - d_ptr->next_time = %lu, current_time = %lu, "
                  "sleep_now = %lu\n",
                  static_cast<unsigned long>(d.next_time), static_cast<unsigned long>(now),
                  static_cast<unsigned long>(std::max(0L, due - now)));
        sleep = std::min(sleep, due - now);
    }
    if (go_home_time > 0) sleep = std::min(sleep, go_home_time - now);
    return std::max(0L, sleep);
}

int collect() {
    const long pass = now_relative();
    int failures = 0;
    bool ran = false;
    for (const auto& cp : cur_anchor) {
        if (go_home) return failures ? failures : 1;
        curs& c = *cp;
        if (restart_request) {
            if (debug_on(5)) PRINT('t', "cgn1514", "Exiting collection loop because of reDoInit\n");
            break;
        }
        const bool tell = debug_on(5) && c.trace;
        const char* name = c.cur_name.c_str();
        if (c.held == 'Y') {
            if (tell) PRINT('t', "cgn1515", "Bypassing cursor %s, why = held\n", name);
            if (c.hold_reasons[0] == 0 && c.hold_reasons[1] == 0 && c.hold_reasons[2] == 0) c.held = 'N';
            continue;
        }
        if (c.demand) {
            if (tell) PRINT('t', "cgn1516", "Bypassing cursor %s, why = demand\n", name);
            continue;
        }
        if (!class_enabled(c.class_no)) {
            if (tell) PRINT('t', "cgn1517", "Bypassing cursor %s, why = class\n", name);
            continue;
        }
        if (c.window_end <= pass) set_window_c(c, pass);
        if (c.window_start > pass) {
            if (tell) PRINT('t', "cgn1518", "Bypassing cursor %s, why = window\n", name);
            continue;
        }
        if (pass < static_cast<long>(c.next_time)) {
            if (tell) PRINT('t', "cgn1519", "Bypassing cursor %s, why = interval time\n", name);
            continue;
        }
        c.next_time = static_cast<uint32_t>(pass + c.interval);
        if (c.trace) PRINT('t', "cgn1520", "Interval collection at %s for %s\n", form_time().c_str(), name);
        c.last_time = secs_to_date(pass);
        ran = true;
        if (get_cursor_data(c) != 0) {
            PRINT('e', "cgn1521", "Interval collection failed for cursor %s\n", name);
            ++failures;
        }
    }
    if (go_home) return failures ? failures : 1;
    if (failures) {
        commit_collect(CommitMode::normal);
        if (collector_at) record_run(*collector_at, true);
    } else {
        const std::string stamp = secs_to_date(pass);
        for (const auto& cp : cur_anchor) cp->last_time = stamp;
        if (ran) commit_collect(CommitMode::normal);
        if (collector_at) record_run(*collector_at, false);
    }
    return failures;
}

[[noreturn]] void schedule() {
    for (;;) {
        if (debug_on(8)) {
            const TimeOfDay t = time_of_day();
            PRINT('t', "cgn1526", "schedule - top of while(TRUE) loop:time = %lu sec %lu microsec\n", t.sec,
                  t.usec);
        }
        const long start = now_relative();
        if (stop_requested()) break;

        if (restart_request) {
            restart_collector();
            continue;
        }

        if (distrib* c = collector_at) {
            if (c->window_end <= start) set_window(*c, start);
            if (debug_on(8)) trace_distributor("cgn1527", "", *c, start);
            if (c->window_start <= start && c->next_time <= start && (c->state & 1)) {
                prepare_pass(start);
                if (collect() != 0 && !go_home) PRINT('e', "cgn1525", "One or more interval cursors failed\n");
                c->next_time = static_cast<uint32_t>(start + c->interval);
            }
        }

        for (const auto& dp : distrib_anchor) {
            if (stop_requested()) break;
            distrib& d = *dp;
            if (&d == collector_at) continue;
            if (d.window_end <= start) set_window(d, start);
            if (debug_on(8)) trace_distributor("cgn1528", "schedule - d_ptr = distrib_anchor loop: ", d, start);
            if (d.window_start > start || d.next_time > start || !(d.state & 1) || d.hold == 'Y') continue;
            run_distributor(d, now_relative());
            d.next_time = static_cast<uint32_t>(start + d.interval);
        }
        if (go_home) continue;

        if (debug_on(8)) {
            const TimeOfDay t = time_of_day();
            PRINT('t', "cgn1529",
                  "schedule - after d_ptr = distrib_anchor loop:time = %lu sec %lu microsec\n", t.sec,
                  t.usec);
        }

        const long now = now_relative();
        if (debug_on(8)) {
            const TimeOfDay t = time_of_day();
            PRINT('t', "cgn1530", "schedule - determine time to sleep:time = %lu sec %lu microsec\n", t.sec,
                  t.usec);
        }
        const long nap = sleep_seconds(now);
        if (nap > 0) {
            if (debug_on(4))
                PRINT('t', "cgn1532", "Go to sleep for %d sec at %d until next collection\n",
                      static_cast<int>(nap), static_cast<int>(now));
            sleep_for(nap);
        }
        if (stop_requested()) continue;

        if (database_info.connected && request_served)
            commit_collect(collector_at && collector_at->continuous == 'Y' ? CommitMode::continuous
                                                                            : CommitMode::normal);
        request_served = false;

        if (retrace_request) {
            retrace_request = false;
            reset_tracing();
        }

        for (const auto& dp : distrib_anchor) {
            if (dp->state & 2) {
                dp->state = static_cast<uint16_t>((dp->state & ~2u) | 4u);
            }
        }
    }
    leave_loop();
}

void reset_schedule() {
    last_version_update = 0;
    request_served = false;
}

} // namespace qvx
