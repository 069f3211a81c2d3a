#pragma once
// The wizard's texts come from the engine's string table, in the language the
// process locale picks; nothing goes through Qt's own translation files.
#include <QString>
#include <initializer_list>
#include <string>

QString Text(int id);
// A header title or subtitle as one flowing paragraph: the sheet's header
// holds two lines, and the table's line breaks would push text out of it.
QString HeaderText(int id);
// The text with "{0}", "{1}", ... filled in by `values`.
QString TextWith(int id, std::initializer_list<std::string> values);
