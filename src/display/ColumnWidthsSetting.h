#pragma once

#include <string>

#include "session/SessionRow.h"
#include "settings/SettingsFile.h"

class QTableView;

namespace varnel {

// The session list's column widths as the settings keep them: "ColnmWidth", nine numbers joined by
// ':' whatever the list shows, so that a list without the process column loses nothing of it.
// A value class: it borrows the settings file and the view only for the call that names them and
// owns neither. GUI thread only, like the views it is applied to.
class ColumnWidthsSetting {
  public:
    static constexpr int kDefaultWidths[kColumnCount] = {90, 90, 60, 90, 220, 60, 80, 100, 100};

    // The saved widths; those the text does not give keep their defaults.
    void Read(const SettingsFile& settings);
    // Gives the first `columns` columns of `view` the widths read.
    void ApplyTo(QTableView& view, int columns) const;
    // Stores the widths `view` shows now; a column beyond `columns` stores its default.
    static void Write(const QTableView& view, int columns, SettingsFile::Batch& batch);

    // Reads up to nine "ColnmWidth" numbers into `widths`; returns how many were read.
    static int Parse(const std::string& text, int widths[kColumnCount]);

  private:
    int widths_[kColumnCount] = {};
};

}  // namespace varnel
