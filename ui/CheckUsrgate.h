// SPDX-License-Identifier: MIT
#pragma once

// The exit rights check through the suite's user-rights library libUsrgate.so, loaded by name for each check:
// first beside the executable, then on the normal library search path (never the current directory).

#include <QString>
#include <QStringList>
#include <cstdint>

class QWidget;

constexpr int RightsCapacity = 100;

// True when one of the first `count` rights is rightCode; an entry 0 ends the list. A count below 1 or above
// the array's 100 entries finds nothing.
bool HasRight(const int32_t (&rights)[RightsCapacity], int32_t count, int32_t rightCode);

class TCheckUsrgate
{
public:
    // libraryCandidates: the paths tried in order with dlopen; storePath: the client configuration cache.
    TCheckUsrgate(QStringList libraryCandidates, QString storePath);

    // The usual candidates: <program directory>/libUsrgate.so, then "libUsrgate.so".
    static QStringList defaultCandidates();

    // True when the rights library decided (then `granted` says whether the user may go on); false when it is
    // missing or not ready, and the caller has to decide itself. Rights messages go to `parent`.
    bool CheckExitRight(QWidget* parent, int32_t rightCode, bool& granted) const;

private:
    QStringList m_candidates;
    QString m_storePath;
};
