#pragma once

#include <QString>

// Opens a document in another program (a help viewer, a text editor) without waiting for it.
class Launcher {
public:
    virtual ~Launcher() = default;
    // Raises RuntimeError 53 naming the file when no program can be started for it.
    virtual void openDocument(const QString& path) = 0;
};
