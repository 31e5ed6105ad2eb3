// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The end of a production run and the observer that hears everything a run reports. The
// progress messages themselves and their payload are in base/Progress.h, shared with the
// recorder's burn thread.

#include "base/Progress.h"

#include <string>

namespace lumivox {

enum class ProductionStatus { Finished, Failed, Cancelled };

struct ProductionResult;

// Receives what a run reports. Every call comes on the production thread, in order;
// implementations must return quickly (post, queue or print) and must not call back
// into the job. Default bodies do nothing.
class ProductionObserver : public ProgressListener {
public:
    // Something the user should know that does not stop the run: a picture that could
    // no longer be decoded, a menu background that could not be drawn.
    virtual void OnWarning(const std::string& text) { (void)text; }
    // The run ended; the last call of a run.
    virtual void OnFinished(const ProductionResult& result) { (void)result; }
};

} // namespace lumivox
