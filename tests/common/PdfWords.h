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

// One page: its size in points and its words in the order pdftotext reads them.
struct PdfPage {
    double width, height;
    QList<PdfWord> words;
};

// A word's text as the page shows it (pdftotext writes html: "<" comes as "&lt;").
inline QString unescapedPdfText(QString text) {
    text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    text.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    text.replace(QStringLiteral("&apos;"), QStringLiteral("'"));
    text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return text;
}

// The pages of the PDF with their words, from `pdftotext -bbox` written to html; empty when
// it failed.
inline QList<PdfPage> pdfPages(const QString& pdf, const QString& html) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, html});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    QFile f(html);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(f.readAll());
    static const QRegularExpression item(QString::fromLatin1(
        R"re(<page width="([\d.]+)" height="([\d.]+)">|<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    QList<PdfPage> pages;
    for (auto it = item.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        if (!m.captured(1).isEmpty()) {
            pages.append({m.captured(1).toDouble(), m.captured(2).toDouble(), {}});
        } else if (!pages.isEmpty()) {
            pages.last().words.append({m.captured(3).toDouble(), m.captured(4).toDouble(),
                                       m.captured(5).toDouble(), m.captured(6).toDouble(),
                                       unescapedPdfText(m.captured(7))});
        }
    }
    return pages;
}

// The words of every page of the PDF, in order; empty when pdftotext failed.
inline QList<PdfWord> pdfWords(const QString& pdf, const QString& html) {
    QList<PdfWord> words;
    for (const PdfPage& page : pdfPages(pdf, html))
        words.append(page.words);
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
