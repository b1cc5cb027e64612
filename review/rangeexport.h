// A range of a recording as CSV: the recording's own header and rows, exactly
// those with t_s in the range. Taken from the recording's .csv as written when
// it lies beside the file; for a .bytes alone the rows are written again from
// its frames, as the recorder wrote them.
#pragma once

#include "csvtable.h"
#include "recording.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace quorvid::review {

std::optional<QByteArray> csvRange(const Recording& recording, TimeRange range, QString* error);

// The same into a file; the error names it and the system's reason.
bool exportCsvRange(const Recording& recording, TimeRange range, const QString& outPath, QString* error);

}  // namespace quorvid::review
