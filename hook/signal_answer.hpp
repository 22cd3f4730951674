// What a blocking event (PreToolUse, ConfigChange) answers when a signal comes, moment by
// moment, and the one place that gives each answer:
//
// | moment                        | answer                            | given by                 |
// |-------------------------------|-----------------------------------|--------------------------|
// | reading the event (no profile | the configuration error, exit 2   | main.cpp `read_input`,   |
// | known yet)                    |                                   | `finish_after_failure`   |
// | asking the app: the ownership | the unreachable-app fallback:     | run.cpp `run_event`,     |
// | probe, connect, greeting,     | held for a remote session or      | fallback.cpp             |
// | request                       | none, else nothing                | `app_unreachable`        |
// | a hold the app started        | deny, with the no-decision text   | policy.cpp               |
// | ("policy_wait")               |                                   | `await_decision`         |
// | writing the decided answer    | its exit status, no further byte  | main.cpp `finish`        |
// | a crash, at any moment        | the configuration error, exit 2   | here, `answer_faults`    |
//
// Why: Claude Code may give up on the hook (SIGTERM), the user may interrupt it (SIGINT,
// SIGHUP, SIGQUIT), a resource limit may end it (SIGXCPU), and it may crash. Dying silently
// would let the call run although nobody allowed it, so the hook answers for what it knows.
//
// How: the signals that would end the hook are held from the first instruction of main() and
// noticed where the hook waits (common/signal_wait.hpp); the wait that notices one ends as a
// failed wait, and the code around it answers as it answers any failure there. A signal that
// comes while the hook computes is answered by the next of these moments it reaches. From the
// moment the answer is decided no signal changes it. Events that do not block hold nothing: a
// signal ends them as it would any program, which is their empty answer.
#pragma once

namespace kestrum {

// At the start of a blocking event, before anything may fail: the ending signals held, and
// a crash answered with the configuration error (outside the sanitizer builds, whose reports
// those are).
void answer_signals_from_start();

}  // namespace kestrum
