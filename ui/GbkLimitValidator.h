// SPDX-License-Identifier: MIT
#pragma once

// Holds an edit's text to what a record field of that many GBK bytes can take, counted by whole characters: an
// input that would not fit is refused, never cut inside a character.

#include <QValidator>

class TGbkLimitValidator : public QValidator
{
    Q_OBJECT

public:
    TGbkLimitValidator(int byteLimit, QObject* parent = nullptr);

    State validate(QString& input, int& pos) const override;
    int byteLimit() const { return m_byteLimit; }

private:
    int m_byteLimit;
};
