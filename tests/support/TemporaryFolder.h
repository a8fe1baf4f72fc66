#pragma once

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdint>

// Points the libraries' temporary folder at a fresh one for as long as it
// lives, and tells whether anything was ever made in it.
class FreshTemporaryFolder {
public:
    FreshTemporaryFolder()
        : m_savedTmp(qgetenv("TMPDIR"))
        , m_savedMagick(qgetenv("MAGICK_TMPDIR"))
    {
        qputenv("TMPDIR", m_folder.path().toLocal8Bit());
        qputenv("MAGICK_TMPDIR", m_folder.path().toLocal8Bit());
        m_changed = changeTime();
    }
    ~FreshTemporaryFolder()
    {
        restore("TMPDIR", m_savedTmp);
        restore("MAGICK_TMPDIR", m_savedMagick);
    }
    FreshTemporaryFolder(FreshTemporaryFolder const&) = delete;
    FreshTemporaryFolder& operator=(FreshTemporaryFolder const&) = delete;

    // No file was made in the folder, not even one removed again: making
    // or removing one changes the folder's time.
    bool untouched() const { return QDir(m_folder.path()).isEmpty() && changeTime() == m_changed; }

private:
    static void restore(char const* name, QByteArray const& value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    std::int64_t changeTime() const
    {
        struct stat status { };
        stat(m_folder.path().toLocal8Bit().constData(), &status);
        return std::int64_t { status.st_mtim.tv_sec } * 1000000000 + status.st_mtim.tv_nsec;
    }

    QTemporaryDir m_folder;
    QByteArray m_savedTmp;
    QByteArray m_savedMagick;
    std::int64_t m_changed = 0;
};
