#include "adapters/qt/line_picture_widget.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <string>
#include <tuple>

namespace orvanta {
namespace {

constexpr int kMargin = 6;
constexpr int kColumnGap = 10;
constexpr int kHeaderHeight = 38;
constexpr int kLegendHeight = 20;
constexpr int kTileGap = 5;
constexpr int kTilePadding = 5;
constexpr int kPreferredTileHeight = 84;
constexpr int kSmallestTileHeight = 40;
constexpr int kRoomyTileHeight = 70;
constexpr int kMoreLineHeight = 16;

const QColor kBackground(0xDC, 0xDF, 0xE3);
const QColor kColumnFill(0xF4, 0xF5, 0xF7);
const QColor kColumnBorder(0x9A, 0xA3, 0xAD);
const QColor kInk(0x1A, 0x1A, 0x1A);

QFont sized(QFont font, int pixels, bool bold = false) {
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// The font of an alarm text: the picture's font name, the widget's own font when it names none.
QFont textFont(const QFont& own, const std::string& fontName) {
    QFont result = sized(own, 11);
    if (!fontName.empty()) result.setFamily(QString::fromStdString(fontName));
    return result;
}

// A small square badge with one letter, for the foreign and remote marks.
void paintBadge(QPainter& p, const QRect& box, const QString& letter, const QColor& fill) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.setFont(sized(p.font(), 10, true));
    p.drawText(box, Qt::AlignCenter, letter);
}

const QColor kForeignBadge(0xFF, 0xFF, 0xFF);
const QColor kRemoteBadge(0xFF, 0xE8, 0x9A);

}  // namespace

LinePictureWidget::LinePictureWidget(EmbeddedLineDisplay& model, const LanguageTable* languages,
                                     QWidget* parent)
    : QWidget(parent), model_(model), languages_(languages) {
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    observerKey_ = model_.addObserver([this](EmbeddedLineDisplay::Change) { update(); });
}

LinePictureWidget::~LinePictureWidget() { model_.removeObserver(observerKey_); }

QFont LinePictureWidget::fontForLanguage(std::int32_t language) const {
    return textFont(font(), fontNameFor(languages_, language));
}

LinePictureWidget::Layout LinePictureWidget::layout(const LinePicture& picture) const {
    Layout result;
    const QRect area = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    result.legend = QRect(area.left(), area.bottom() - kLegendHeight + 1, area.width(), kLegendHeight);

    const int columnsTop = area.top();
    const int columnsBottom = result.legend.top() - 6;
    const int columnWidth = (area.width() - (kLineSlotCount - 1) * kColumnGap) / kLineSlotCount;
    for (std::size_t k = 0; k < picture.columns.size(); ++k) {
        Column column;
        column.shown = &picture.columns[k];
        column.rect = QRect(area.left() + static_cast<int>(k) * (columnWidth + kColumnGap), columnsTop,
                            columnWidth, columnsBottom - columnsTop + 1);
        column.header = QRect(column.rect.left(), column.rect.top(), columnWidth, kHeaderHeight);

        if (column.shown->group != kNoDisplayGroup) {
            const std::vector<std::int16_t>& members = column.shown->machines;
            const int top = column.header.bottom() + 1 + kTileGap;
            const int available = column.rect.bottom() - kTileGap - top + 1;
            const int count = static_cast<int>(members.size());
            int shown = count;
            int height = kPreferredTileHeight;
            if (count > 0) {
                height = std::min(kPreferredTileHeight, (available - (count - 1) * kTileGap) / count);
                if (height < kSmallestTileHeight) {
                    height = kSmallestTileHeight;
                    shown = std::max(0, (available - kMoreLineHeight + kTileGap) / (height + kTileGap));
                }
            }
            for (int n = 0; n < shown; ++n) {
                column.tiles.push_back({members[static_cast<std::size_t>(n)],
                                        QRect(column.rect.left() + kTileGap, top + n * (height + kTileGap),
                                              columnWidth - 2 * kTileGap, height)});
            }
            column.hidden = count - shown;
        }
        result.columns.push_back(std::move(column));
    }
    return result;
}

std::optional<QRect> LinePictureWidget::tileRect(int machine) const {
    const LinePicture picture = model_.picture(languages_);
    for (const Column& column : layout(picture).columns) {
        for (const Tile& tile : column.tiles) {
            if (tile.machine == machine) return tile.rect;
        }
    }
    return std::nullopt;
}

void LinePictureWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    p.setRenderHint(QPainter::Antialiasing);

    const LinePicture picture = model_.picture(languages_);
    const Layout parts = layout(picture);
    if (parts.columns.empty()) {
        p.setPen(kInk);
        p.setFont(sized(font(), 16, true));
        p.drawText(rect(), Qt::AlignCenter,
                   picture.described ? QStringLiteral("No display groups: the line has no own machine 1")
                                     : QStringLiteral("No line description"));
    }
    for (std::size_t k = 0; k < parts.columns.size(); ++k) {
        paintColumn(p, picture, parts.columns[k]);
        // The line runs from left to right: an arrow between neighbouring groups.
        if (k + 1 < parts.columns.size()) {
            const QRect& header = parts.columns[k].header;
            const double x = header.right() + 2;
            const double y = header.center().y();
            QPainterPath arrow;
            arrow.moveTo(x, y - 5);
            arrow.lineTo(x + kColumnGap - 3, y);
            arrow.lineTo(x, y + 5);
            arrow.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(kColumnBorder);
            p.drawPath(arrow);
        }
    }
    paintLegend(p, parts.legend);
}

void LinePictureWidget::paintColumn(QPainter& p, const LinePicture& picture, const Column& column) const {
    const QRectF frame = QRectF(column.rect).adjusted(0.5, 0.5, -0.5, -0.5);
    const QString title = QString::fromStdString(column.shown->title);
    if (column.shown->group == kNoDisplayGroup) {
        p.setPen(QPen(kColumnBorder, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(frame, 5, 5);
        p.setPen(kColumnBorder);
        p.setFont(sized(font(), 11));
        p.drawText(column.rect, Qt::AlignCenter, title);
        return;
    }
    p.setPen(QPen(kColumnBorder, 1));
    p.setBrush(kColumnFill);
    p.drawRoundedRect(frame, 5, 5);

    const QRect header = column.header.adjusted(kTilePadding, 3, -kTilePadding, -3);
    p.setPen(kInk);
    p.setFont(sized(font(), 12, true));
    p.save();
    p.setClipRect(header);
    p.drawText(header, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, title);
    p.restore();
    p.setPen(QPen(kColumnBorder, 1));
    p.drawLine(column.header.left() + 1, column.header.bottom(), column.header.right() - 1,
               column.header.bottom());

    for (const Tile& tile : column.tiles)
        paintTile(p, picture.machines[static_cast<std::size_t>(tile.machine)], tile.rect);
    if (column.hidden > 0) {
        p.setPen(kInk);
        p.setFont(sized(font(), 10));
        p.drawText(QRect(column.rect.left(), column.rect.bottom() - kMoreLineHeight - 2, column.rect.width(),
                         kMoreLineHeight),
                   Qt::AlignCenter, QStringLiteral("+%1 more").arg(column.hidden));
    }
}

void LinePictureWidget::paintTile(QPainter& p, const MachineLook& machine, const QRect& rect) const {
    const QColor fill = colourOf(machine.colour);
    const QColor ink = colourOf(machine.ink);
    const QString statusName =
        QString::fromUtf8(machine.statusName.data(), static_cast<qsizetype>(machine.statusName.size()));

    const QRectF frame = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setBrush(fill);
    // A foreign machine belongs to another line: a dashed border sets it apart from the own machines.
    p.setPen(machine.foreign ? QPen(kInk, 1.5, Qt::DashLine) : QPen(fill.darker(160), 1));
    p.drawRoundedRect(frame, 4, 4);

    const QRect inner = rect.adjusted(kTilePadding, 4, -kTilePadding, -4);
    // A tall tile gives the status a line of its own; a crowded column puts it beside the co-name.
    const bool roomy = rect.height() >= kRoomyTileHeight;

    p.setPen(ink);
    const QFont nameFont = sized(font(), 11, true);
    p.setFont(nameFont);
    const QRect nameBox(inner.left(), inner.top(), inner.width(), 15);
    p.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(nameFont).elidedText(QString::fromStdString(machine.name), Qt::ElideRight,
                                                 nameBox.width()));

    QRect detailBox(inner.left(), nameBox.bottom() + 1, inner.width(), 13);
    int badgeRight = detailBox.right();
    const int badgeSize = 13;
    for (const auto& [flag, letter, colour] :
         {std::tuple{machine.foreign, QStringLiteral("F"), kForeignBadge},
          std::tuple{machine.remote, QStringLiteral("R"), kRemoteBadge}}) {
        if (!flag) continue;
        paintBadge(p, QRect(badgeRight - badgeSize + 1, detailBox.top(), badgeSize, badgeSize), letter,
                   colour);
        badgeRight -= badgeSize + 3;
    }
    detailBox.setRight(badgeRight - 2);

    const QFont detailFont = sized(font(), 10);
    const QFontMetrics detailMetrics(detailFont);
    p.setFont(detailFont);
    p.setPen(ink);
    const QString coName = QString::fromStdString(machine.coName);
    QRect lastBox = detailBox;
    if (roomy) {
        p.drawText(detailBox, Qt::AlignLeft | Qt::AlignVCenter,
                   detailMetrics.elidedText(coName, Qt::ElideRight, detailBox.width()));
        lastBox = QRect(inner.left(), detailBox.bottom() + 1, inner.width(), 13);
        p.setFont(sized(font(), 10, true));
        p.drawText(lastBox, Qt::AlignLeft | Qt::AlignVCenter, statusName);
    } else {
        const QString detail = coName.isEmpty() ? statusName : coName + QStringLiteral(" · ") + statusName;
        p.drawText(detailBox, Qt::AlignLeft | Qt::AlignVCenter,
                   detailMetrics.elidedText(detail, Qt::ElideRight, detailBox.width()));
    }

    const QRect textBox(inner.left(), lastBox.bottom() + 3, inner.width(),
                        inner.bottom() - lastBox.bottom() - 2);
    if (!machine.text.empty() && textBox.height() >= 10) {
        p.save();
        p.setClipRect(textBox);
        p.setPen(ink);
        p.setFont(textFont(font(), machine.fontName));
        p.drawText(textBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                   QString::fromStdString(machine.text));
        p.restore();
    }
}

void LinePictureWidget::paintLegend(QPainter& p, const QRect& area) const {
    const QFont legendFont = sized(font(), 10);
    const QFontMetrics metrics(legendFont);
    p.setFont(legendFont);
    int x = area.left();
    const int y = area.center().y();
    for (const LegendEntry& entry : statusLegend()) {
        const QString label =
            QString::fromUtf8(entry.label.data(), static_cast<qsizetype>(entry.label.size()));
        const QColor colour = colourOf(entry.colour);
        p.setPen(QPen(colour.darker(160), 1));
        p.setBrush(colour);
        p.drawRoundedRect(QRectF(x + 0.5, y - 6 + 0.5, 12, 12), 2, 2);
        p.setPen(kInk);
        const int width = metrics.horizontalAdvance(label);
        p.drawText(QRect(x + 16, area.top(), width + 2, area.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   label);
        x += 16 + width + 12;
    }
    x += 8;
    paintBadge(p, QRect(x, y - 7, 14, 14), QStringLiteral("F"), kForeignBadge);
    p.setFont(legendFont);
    p.setPen(kInk);
    p.drawText(QRect(x + 18, area.top(), 90, area.height()), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("foreign"));
    x += 18 + metrics.horizontalAdvance(QStringLiteral("foreign")) + 12;
    paintBadge(p, QRect(x, y - 7, 14, 14), QStringLiteral("R"), kRemoteBadge);
    p.setFont(legendFont);
    p.setPen(kInk);
    p.drawText(QRect(x + 18, area.top(), 90, area.height()), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("remote"));
}

}  // namespace orvanta
