#pragma once

#include <QString>

namespace velmar {

// The working values and switches every window reads; one per running program (or test).
struct AppState
{
    QString CurrentDataSet;
    QString CurrentDataSetLabel;
    QString CurrentDoctorId;
    bool SendingMode = false;
    bool PreviewPensionForm = false;
};

} // namespace velmar
