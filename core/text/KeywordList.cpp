#include "core/text/KeywordList.h"

#include "core/text/LineBreaks.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

QStringList parseKeywordList(QByteArrayView bytes)
{
    QString text;
    if (const auto encoding = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*encoding); // skips the byte-order mark
        text = decoder(bytes);
    } else {
        text = QString::fromLatin1(bytes);
    }

    QStringList entries;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype breakLength = LineBreaks::breakLength(text, i);
        if (breakLength == 0)
            continue;
        entries.append(text.mid(lineStart, i - lineStart));
        i += breakLength - 1;
        lineStart = i + 1;
    }
    if (lineStart < text.size())
        entries.append(text.mid(lineStart));
    return entries;
}

QString keywordListPath(const QString& exeFolder)
{
    const QString beside =
        exeFolder + QStringLiteral("TempFile") + QDir::separator() + QStringLiteral("SearchKey.txt");
    if (QFileInfo(beside).isFile())
        return beside;
    // The install's data folder, relative to its bin folder, so that a moved install still finds it.
    const QString installed = QDir::cleanPath(exeFolder + QStringLiteral(BORVANE_DATA_DIR_FROM_BIN) +
                                              QStringLiteral("/SearchKey.txt"));
    if (QFileInfo(installed).isFile())
        return QDir::toNativeSeparators(installed);
    return beside;
}
