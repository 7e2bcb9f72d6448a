// SPDX-License-Identifier: MIT
#include "GbkLimitValidator.h"

#include "GbkText.h"

TGbkLimitValidator::TGbkLimitValidator(int byteLimit, QObject* parent)
    : QValidator(parent)
    , m_byteLimit(byteLimit)
{
}

QValidator::State TGbkLimitValidator::validate(QString& input, int& /*pos*/) const
{
    return Gbk::byteLength(input) <= m_byteLimit ? Acceptable : Invalid;
}
