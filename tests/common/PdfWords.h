#pragma once
// The words of a PDF file with their boxes, as pdftotext (poppler-utils) finds them: the
// printout tests read what a real printer placed where.

#include <QFile>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace trelmo::test {

// One word and its box, in points from the page's top left corner.
struct PdfWord {
    double xMin, yMin, xMax, yMax;
    QString text;
};

// Whether pdftotext can be run here.
inline bool havePdfToText() {
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty();
}

// The words of the PDF, from `pdftotext -bbox` written to html; empty when it failed.
inline QList<PdfWord> pdfWords(const QString& pdf, const QString& html) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, html});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    QFile f(html);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(f.readAll());
    static const QRegularExpression word(QString::fromLatin1(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    QList<PdfWord> words;
    for (auto it = word.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        words.append({m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                      m.captured(4).toDouble(), m.captured(5)});
    }
    return words;
}

// The first word with this text, null when there is none.
inline const PdfWord* findPdfWord(const QList<PdfWord>& words, const QString& text) {
    for (const PdfWord& w : words)
        if (w.text == text)
            return &w;
    return nullptr;
}

}  // namespace trelmo::test
