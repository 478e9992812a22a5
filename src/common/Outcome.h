#pragma once
// What an engine operation gives back: the step that failed (a subsystem's own enum, None when
// nothing failed) and the system's error code at that moment. Only a face turns it into words.

#include "common/SystemError.h"

template <typename Step> struct Outcome {
    Step failed = Step::None;
    SystemError systemError = kNoSystemError;

    explicit operator bool() const { return failed == Step::None; }

    static Outcome Success() { return {}; }
    // The error code is taken at the call, so call this before anything else can change it.
    static Outcome Failure(Step step, SystemError error = LastSystemError()) {
        return {step, error};
    }
};
