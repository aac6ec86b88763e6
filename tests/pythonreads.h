// The sample corpus and what Python's email package (policy default) reads
// from it, through tests/interop/readmail_check.py.
#pragma once

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringList>

inline const QString CorpusDir = QStringLiteral(ORVANE_CORPUS_DIR);

// Every message file of the corpus, sorted.
inline QStringList corpusFiles()
{
    QStringList files;
    QDirIterator it(CorpusDir, {QStringLiteral("*.eml")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// One JSON array per file: [file, subject, from name, from address, leaf
// media types]; a value Python cannot give, or gives with U+FFFD, is null.
inline QList<QJsonArray> pythonReads(const QStringList& files)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral(ORVANE_TEST_DATA "/../interop/readmail_check.py")} + files);
    if (!p.waitForFinished(300000) || p.exitCode() != 0)
        return {};
    QList<QJsonArray> out;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            out << QJsonDocument::fromJson(line).array();
    return out;
}

// The file's name within the corpus.
inline QString corpusName(const QString& path) { return path.mid(CorpusDir.size() + 1); }
