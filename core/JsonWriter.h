// SPDX-License-Identifier: MIT
#pragma once

// A small JSON text writer that keeps fields in the order they are written (QJsonObject sorts its keys), so a
// dumped task file reads in the order of the records. Output is UTF-8, indented by two spaces; a container
// opened as compact stays on one line.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

class TJsonWriter
{
public:
    void beginObject(bool compact = false) { open('{', compact); }
    void endObject() { close('}'); }
    void beginArray(bool compact = false) { open('[', compact); }
    void endArray() { close(']'); }

    void key(const char* name)
    {
        item();
        appendString(QString::fromUtf8(name));
        m_out.append(": ");
        m_afterKey = true;
    }

    void value(const QString& text)
    {
        item();
        appendString(text);
    }
    void value(int64_t number)
    {
        item();
        m_out.append(QByteArray::number(static_cast<qlonglong>(number)));
    }
    void value(bool flag)
    {
        item();
        m_out.append(flag ? "true" : "false");
    }

    template <class T>
    void field(const char* name, const T& v)
    {
        key(name);
        value(v);
    }
    void field(const char* name, int32_t v) { field(name, static_cast<int64_t>(v)); }
    void field(const char* name, const char* text) { field(name, QString::fromUtf8(text)); }

    const QByteArray& text() const { return m_out; }

private:
    struct TLevel
    {
        bool compact;
        bool empty;
    };

    bool compact() const
    {
        for (const TLevel& l : m_levels) {
            if (l.compact) {
                return true;
            }
        }
        return false;
    }

    // Separator and line break before a new item (a value right after its key needs neither).
    void item()
    {
        if (m_afterKey) {
            m_afterKey = false;
            return;
        }
        if (m_levels.empty()) {
            return;
        }
        TLevel& level = m_levels.back();
        if (!level.empty) {
            m_out.append(',');
            if (compact()) {
                m_out.append(' ');
            }
        }
        level.empty = false;
        if (!compact()) {
            newline(m_levels.size());
        }
    }

    void open(char bracket, bool compactLevel)
    {
        item();
        m_out.append(bracket);
        m_levels.push_back({compactLevel, true});
    }

    void close(char bracket)
    {
        const TLevel level = m_levels.back();
        m_levels.pop_back();
        if (!level.empty && !level.compact && !compact()) {
            newline(m_levels.size());
        }
        m_out.append(bracket);
        if (m_levels.empty()) {
            m_out.append('\n');
        }
    }

    void newline(size_t depth)
    {
        m_out.append('\n');
        m_out.append(QByteArray(static_cast<qsizetype>(depth * 2), ' '));
    }

    void appendString(const QString& text)
    {
        QString escaped;
        escaped.reserve(text.size() + 2);
        escaped.append(QLatin1Char('"'));
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            if (u == '"' || u == '\\') {
                escaped.append(QLatin1Char('\\')).append(c);
            } else if (u == '\n') {
                escaped.append(QLatin1String("\\n"));
            } else if (u == '\t') {
                escaped.append(QLatin1String("\\t"));
            } else if (u == '\r') {
                escaped.append(QLatin1String("\\r"));
            } else if (u < 0x20 || u == 0x7F) {
                escaped.append(QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0')));
            } else {
                escaped.append(c);
            }
        }
        escaped.append(QLatin1Char('"'));
        m_out.append(escaped.toUtf8());
    }

    QByteArray m_out;
    std::vector<TLevel> m_levels;
    bool m_afterKey = false;
};
