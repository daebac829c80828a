// The settings file: an INI file read and written in the same format as
// Windows' private-profile functions, so files written by either stay
// readable by the other. Every read and every write goes to the file;
// nothing is cached.
#pragma once

#include <QString>
#include <cstdint>

class inifile_IO {
public:
    // Full path of the settings file; empty until set.
    QString FileName() const { return fileName_; }
    void setFileName(const QString &path) { fileName_ = path; }

    // The system's configuration folder ("/etc"), without a trailing "/".
    QString GetWinFolder() const;

    // Stores `value` under `section`/`key`, creating file, section and key as
    // needed; true when the file was written. An empty value keeps the key.
    bool WriteStr(const QString &section, const QString &key, const QString &value);

    // The stored number rounded to the nearest integer, halves to even; the
    // default when the value is missing, empty, not a number, or outside
    // -32768..32767.
    std::int16_t ReadInt(const QString &section, const QString &key, std::int16_t def);

    // The stored text (at most 1023 bytes), or the default when the file,
    // section or key is missing or the stored value is empty.
    QString ReadStr(const QString &section, const QString &key, const QString &def);

private:
    QString fileName_;
};

// Where the settings file of a program lives: `<appFolder>/<baseName>.ini`
// when that folder is writable and not under /usr, else
// `<user config folder>/dorvasu/<baseName>.ini`.
QString settingsFilePath(const QString &appFolder, const QString &baseName);
