// SPDX-License-Identifier: MIT
#pragma once

// Window translation from the language file: a window's section (named after its class) holds lines
// "Component.Property=value" that set designed texts at run time. Language files written for the suite's
// Windows programs use their property names (Caption, Text, Hint, Items, Lines, ItemIndex, Width, Height, Left,
// Top); Qt's own property names work as well, and Columns sets the column titles of a tree view ("a||b").

#include <QString>

class QObject;
class QWidget;
class TSpecialCustomIniFile;

// Applies the section named like the window's class from the process's language files (the locale's texts, then
// a site's own over them). False only when no language file has been loaded.
bool TranslateForm(QWidget* window);
// The same with an explicit file and section.
bool TranslateForm(QWidget* window, const TSpecialCustomIniFile* iniFile, const QString& section);

// Applies one "Component.Property=value" line to the window; false when the line names nothing it could set.
bool TranslateFormLine(QWidget* window, const QString& line);

// Sets one property of a component from its text value; false when the component has no such property of a
// type that can be set from text (booleans, enumerations and other types are left alone).
bool SetComponentProperty(QObject* component, const QString& propertyName, const QString& value);
