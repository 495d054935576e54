#pragma once

#include <QString>

// The tool's one way of telling the user that an action cannot go on: a modal
// critical box titled "Error" with an OK button and no parent window.
void showErrorBox(const QString &text);
