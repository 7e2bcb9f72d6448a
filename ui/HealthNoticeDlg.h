// SPDX-License-Identifier: MIT
#pragma once

// The health mail and the notices ([Health] and [Notices] of the station's own settings file), edited on the
// dialog's own copies; the caller copies them back after OK when Modified is set. Made at its first use.

#include "StationSettings.h"

#include <QDialog>
#include <memory>

namespace Ui {
class THealthNoticeDlg;
}

class THealthNoticeDlg : public QDialog
{
    Q_OBJECT

public:
    explicit THealthNoticeDlg(QWidget* parent = nullptr);
    ~THealthNoticeDlg() override;

    THealthSettings Health;
    TNoticeSettings Notices;
    bool Editable = false;
    bool Modified = false;

protected:
    void showEvent(QShowEvent* event) override; // the copies into the controls, Modified cleared

private:
    void FieldChange() { Modified = true; }
    void ScheduleComboChange(int index); // only the schedule's own field is enabled
    void OkBtnClick();
    bool checkAndStore(); // recipients, schedule, switches; the first failure is shown and gives false
    bool fail(QWidget* field, const QString& text);

    std::unique_ptr<Ui::THealthNoticeDlg> m_ui;
};
