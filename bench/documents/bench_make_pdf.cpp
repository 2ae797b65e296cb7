// bench_make_pdf TEXT PAGES OUT.pdf: a book of PAGES pages set from TEXT (repeated as
// needed), with a running head, a page number at the foot and a heading every ten pages,
// as the PDF import figure reads it.
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QStringList>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_make_pdf TEXT PAGES OUT.pdf\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) return 1;
    const QStringList words = QString::fromUtf8(in.readAll()).simplified().split(u' ');
    const int pages = QString::fromLatin1(argv[2]).toInt();
    QPdfWriter writer(QString::fromLocal8Bit(argv[3]));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    QPainter painter(&writer);
    QFont font("Liberation Serif");
    font.setPointSizeF(11);
    painter.setFont(font);
    const QFontMetrics metrics(font, &writer);
    const int width = writer.width(), height = writer.height();
    const int line = metrics.lineSpacing(), margin = line * 3;
    qsizetype word = 0;
    for (int page = 1; page <= pages; ++page) {
        if (page > 1) writer.newPage();
        painter.drawText(QRect(0, 0, width, line), Qt::AlignHCenter, "A Long Book");
        painter.drawText(QRect(0, height - line, width, line), Qt::AlignHCenter,
                         QString::number(page));
        int y = margin;
        if (page % 10 == 1) {
            painter.drawText(QRect(0, y, width, line * 2), Qt::AlignLeft,
                             QString("Chapter %1").arg(page / 10 + 1));
            y += line * 3;
        }
        for (; y + line < height - margin; y += line) {
            QString text;
            while (metrics.horizontalAdvance(text + words[word % words.size()]) < width) {
                text += words[word % words.size()] + u' ';
                ++word;
            }
            painter.drawText(QRect(0, y, width, line), Qt::AlignLeft, text);
        }
    }
    return painter.end() ? 0 : 1;
}
