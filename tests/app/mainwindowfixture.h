// The window tests' fixture: a temporary program folder, journal and test files, the messages
// shown, the loaded main window, files tagged through TagLib, case tables from tests/data.
#pragma once

#include <QtWidgets>
#include <filesystem>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include "common/table.h"
#include "gui/fileselect/frmfileselect.h"
#include "gui/app/frmmain.h"
#include "core/collection/entrylist.h"
#include "gui/player/frmplay.h"
#include "gui/ui/messagebox.h"
#include "core/tags/vbmp3.h"

// A tag's fields in the frame's order: title, singer, album, year, genre, comment.
using Six = QStringList;

inline const char *const kTagKeys[] = {"TITLE", "ARTIST", "ALBUM", "DATE", "GENRE", "COMMENT"};
inline const Six kTagA{"夜明けの歌", "山田太郎", "朝のアルバム", "1999", "Rock", "初回盤"};
inline const Six kTagB{"Other Song", "Other Singer", "Other Album", "2001", "Jazz", "other"};

using testdata::texts;

// Section [`section`] of tests/data/app-cases.txt, with $A and $B two tags, $year this year.
inline void addRows(const QString &section, const QList<table::Column> &columns, QHash<QString, QString> lets = {})
{
    lets.insert({{"$A", kTagA.join(u';')}, {"$B", kTagB.join(u';')},
                 {"$year", QString::number(QDate::currentDate().year())}});
    table::addRows("app-cases.txt", section, columns, {lets, {}});
}

// A cell as six fields: "-" none, "~" a null field (left alone).
inline Six six(const QString &cell)
{
    Six out;
    for (const QString &field : cell.split(u';'))
        out << (field == u"~" ? QString() : field);
    return cell == u"-" ? Six() : out;
}

// A cell as a list, split at ";" ("" is empty).
inline QStringList list(const QString &cell) { return cell.split(u';', Qt::SkipEmptyParts); }

// A cell as numbers: "1 -3", or "all", "even" and "odd" of `count` rows.
inline QList<int> rows(const QString &cell, int count = 0)
{
    QList<int> out;
    for (const QString &part : cell.split(u' ', Qt::SkipEmptyParts)) {
        bool number = false;
        out << part.toInt(&number);
        if (!number)
            out.removeLast();
        for (int i = 0; i < count && !number; ++i)
            if (part == u"all" || (i % 2 == 1) == (part == u"odd"))
                out << i;
    }
    return out;
}

inline QList<int> selectedRows(const QAbstractItemView *list)
{
    QList<int> rows;
    for (const QModelIndex &index : list->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

// A list view's current row (-1 for none), the text of its row `row`, and where that row is drawn.
inline int currentRow(const QAbstractItemView *list) { return list->currentIndex().row(); }
inline QString rowText(const QAbstractItemView *list, int row) { return list->model()->index(row, 0).data().toString(); }
inline QPoint rowCentre(const QAbstractItemView *list, int row) { return list->visualRect(list->model()->index(row, 0)).center(); }

struct WindowFixture {
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<frmMain> w;
    QStringList messages;
    QList<QMessageBox::Icon> icons;
    QString savedCurrent;

    QString path(const QString &name) const { return dir->filePath(name); }
    QString iniPath() const
    {
        return path(QStringLiteral("app/%1.ini")
                        .arg(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()));
    }

    void setUp()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid() && QDir(dir->path()).mkdir(QStringLiteral("app")));
        savedCurrent = QDir::currentPath();
        frmMain::setAppFolderForTesting(path(QStringLiteral("app")));
        frmMain::setHistoryFolderForTesting(path(QStringLiteral("config")));
        messages.clear();
        icons.clear();
        ui::setMessageSinkForTesting([this](const QString &text, QMessageBox::Icon icon) {
            messages << text;
            icons << icon;
        });
    }

    // The window loaded, shown on the screen and active; or its Form_Load failed, as `fails` says.
    void load(bool fails = false)
    {
        w = std::make_unique<frmMain>();
        QCOMPARE(w->Form_Load(), !fails);
        if (fails)
            return;
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }

    void tearDown()
    {
        w.reset();
        mp3lib::setInitFailureForTesting(false);
        mp3lib::setEmptyGenreTableForTesting(false);
        ui::setMessageSinkForTesting({});
        frmMain::setAppFolderForTesting(QString());
        frmMain::setHistoryFolderForTesting(QString());
        QDir::setCurrent(savedCurrent);
        // Names that are not UTF-8 are beyond QTemporaryDir: bytes remove all.
        std::filesystem::remove_all(QFile::encodeName(dir->path()).constData());
        dir.reset();
    }

    // Entries in both lists without the tag display; their proposed names "name N".
    void setEntries(const QStringList &paths)
    {
        QByteArrayList bytes;
        QStringList names;
        for (int i = 0; i < paths.size(); ++i) {
            bytes << paths[i].toUtf8();
            names << QStringLiteral("name %1").arg(i);
        }
        w->entries()->append(bytes, names);
    }

    // The paths the file list's entries stand for.
    QByteArrayList entries() const
    {
        QByteArrayList out;
        for (int row = 0; row < w->entries()->count(); ++row)
            out << w->entryPath(row);
        return out;
    }

    // Runs `act` on the first modal T that comes up while `trigger` runs; false if none.
    template <typename T>
    static bool whenModal(const std::function<void(T &)> &act, const std::function<void()> &trigger)
    {
        bool seen = false;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (auto *window = qobject_cast<T *>(QApplication::activeModalWidget())) {
                timer.stop();
                seen = true;
                act(*window);
            }
        });
        timer.start(10);
        trigger();
        return seen;
    }

    // Presses Add, runs `act` in the file selection window, then 閉じる; false if it never came up.
    bool inFileSelect(const std::function<void(frmFileSelect &)> &act)
    {
        return whenModal<frmFileSelect>(
            [&](frmFileSelect &fs) {
                act(fs);
                QTest::mouseClick(fs.cmdCancel, Qt::LeftButton);
            },
            [&] { QTest::mouseClick(w->cmdOpen, Qt::LeftButton); });
    }

    // A sample copied to `name`, with an ID3v2.4 tag of the non-empty fields and `picture`.
    QString file(const QString &name, const Six &f = {}, const QByteArray &picture = {})
    {
        const QString p = testdata::copySample(dir->path(), testdata::kMonoMpeg1, name);
        if (f.isEmpty())
            return p;
        TagLib::MPEG::File mp3(QFile::encodeName(p).constData());
        TagLib::PropertyMap map;
        for (int i = 0; i < f.size(); ++i)
            if (!f[i].isEmpty())
                map.insert(kTagKeys[i], TagLib::String(f[i].toStdString(), TagLib::String::UTF8));
        mp3.ID3v2Tag(true)->setProperties(map);
        if (!picture.isEmpty()) {
            auto *apic = new TagLib::ID3v2::AttachedPictureFrame;
            apic->setMimeType("image/png");
            apic->setPicture(TagLib::ByteVector(picture.constData(), uint(picture.size())));
            mp3.ID3v2Tag()->addFrame(apic);
        }
        if (!mp3.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4))
            qFatal("cannot tag %s", qPrintable(p));
        return p;
    }

    // The six fields as TagLib reads them from the file's ID3v2 tag.
    static Six readTag(const QString &path)
    {
        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        const TagLib::PropertyMap map = file.ID3v2Tag(true)->properties();
        Six f;
        for (const char *key : kTagKeys)
            f << (map.contains(key) ? QString::fromStdString(map[key].toString().to8Bit(true)) : "");
        return f;
    }

    // The fields the tag frame shows.
    static Six shown(const frmMain &w)
    {
        return {w.txtTrackName->text(), w.txtArtistName->text(), w.txtAlbumName->text(),
                w.txtYear->text(),      w.cmbGenre->currentText(), w.txtComment->text()};
    }

    // Types the non-null fields, one key event each as an input method sends Japanese.
    static void type(frmMain &w, const Six &f)
    {
        QLineEdit *boxes[] = {w.txtTrackName, w.txtArtistName, w.txtAlbumName, w.txtYear, nullptr, w.txtComment};
        for (int i = 0; i < 6; ++i) {
            if (!boxes[i] || f[i].isNull())
                continue;
            boxes[i]->clear();
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, f[i]);
            QApplication::sendEvent(boxes[i], &key);
        }
        if (!f[4].isNull())
            w.cmbGenre->setCurrentIndex(w.cmbGenre->findText(f[4]));
    }

    // True when the WAV file holds more than `bytes` of samples, not all silence.
    static bool hasSound(const QString &wav, qsizetype bytes = 0)
    {
        const QByteArray data = testdata::readAll(wav);
        return data.size() > 44 + bytes && data.mid(44).count('\0') < data.size() - 44;
    }

    // Double-clicks `name` in the file selection window's list and runs `act` in the player that
    // comes up; false if none did.
    static bool play(frmFileSelect &fs, const QString &name, const std::function<void(frmPLay &)> &act)
    {
        const QPoint at = fs.File1->visualItemRect(fs.File1->findItems(name, Qt::MatchExactly).value(0)).center();
        return whenModal(act, [&] {
            QTest::mouseClick(fs.File1->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(fs.File1->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseRelease(fs.File1->viewport(), Qt::LeftButton, {}, at);
        });
    }
};
