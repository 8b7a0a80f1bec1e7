#pragma once

#include "documents/batchprint.h"

// A batch run's progress, shown nowhere: the benchmarks time the work, not the window.
class NoProgress : public velmar::ProgressDisplay
{
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void showProgress() override {}
    void hideProgress() override {}
};
