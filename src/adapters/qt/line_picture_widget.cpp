#include "adapters/qt/line_picture_widget.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "core/vb_error.h"

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

QColor inkOn(const QColor& fill) {
    const double luminance = 0.299 * fill.red() + 0.587 * fill.green() + 0.114 * fill.blue();
    return luminance > 140 ? kInk : QColor(Qt::white);
}

QFont sized(QFont font, int pixels, bool bold = false) {
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

std::int32_t languageFromSlot(double language) {
    if (!std::isfinite(language) || language < std::numeric_limits<std::int32_t>::min() ||
        language > std::numeric_limits<std::int32_t>::max())
        return 0;
    return static_cast<std::int32_t>(std::lround(language));
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
    model_.setDisplayObserver([this] { update(); });
}

LinePictureWidget::~LinePictureWidget() { model_.setDisplayObserver({}); }

QColor LinePictureWidget::statusColour(int status) {
    switch (status) {
        case 0:
            return {0xA6, 0xA6, 0xA6};
        case 1:
            return {0x2E, 0xA0, 0x44};
        case 2:
            return {0xF2, 0xCB, 0x3A};
        case 3:
            return {0x3A, 0xAE, 0xD8};
        case 4:
            return {0xD9, 0x30, 0x25};
        case 5:
            return {0x3C, 0x3C, 0x3C};
        case 6:
            return {0xF2, 0x89, 0x2B};
        default:
            return {0xC0, 0x3C, 0xC0};
    }
}

QString LinePictureWidget::statusName(int status) {
    switch (status) {
        case 0:
            return QStringLiteral("no data");
        case 1:
            return QStringLiteral("running");
        case 2:
            return QStringLiteral("warning");
        case 3:
            return QStringLiteral("message");
        case 4:
            return QStringLiteral("fault");
        case 5:
            return QStringLiteral("not connected");
        case 6:
            return QStringLiteral("maintenance");
        default:
            return QStringLiteral("unknown");
    }
}

QFont LinePictureWidget::fontForLanguage(std::int32_t language) const {
    QFont result = sized(font(), 11);
    if (languages_ == nullptr || language == 0) return result;
    const int count = std::clamp<int>(languages_->LanguageCount, 0, kLanguageCapacity);
    for (int i = 1; i <= count; ++i) {
        const LanguageRecord& entry = languages_->entries[static_cast<std::size_t>(i)];
        if (entry.Language == language) {
            if (!entry.FontName.empty()) result.setFamily(QString::fromStdString(entry.FontName));
            break;
        }
    }
    return result;
}

LinePictureWidget::MachineState LinePictureWidget::machineState(int machine) const {
    const LineMachine& described = model_.description()->machines[static_cast<std::size_t>(machine)];
    if (!described.foreign) {
        const SlotDisplay& slot = model_.slotDisplay(machine);
        return {slot.status, QString::fromStdString(slot.text), languageFromSlot(slot.language)};
    }
    // A foreign machine's values live in the model, not in the description it started from.
    try {
        const auto index = static_cast<std::int16_t>(machine);
        return {model_.MachineStatus(index), QString::fromStdString(model_.MachineMessage(index)),
                model_.MachineLanguageId(index)};
    } catch (const VbError&) {
        return {described.status, QString::fromStdString(described.message), described.languageId};
    }
}

LinePictureWidget::Layout LinePictureWidget::layout() const {
    Layout result;
    const QRect area = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    result.legend = QRect(area.left(), area.bottom() - kLegendHeight + 1, area.width(), kLegendHeight);

    const auto& description = model_.description();
    if (!description) return result;

    // The display groups are those of the line's first own machine; every own machine is given the
    // same six, so any of them would do, but machine 1 is the one a plant always has.
    const LineMachine* source = nullptr;
    for (const LineMachine& m : description->machines) {
        if (m.enabled && !m.foreign && m.number == 1) {
            source = &m;
            break;
        }
    }
    if (source == nullptr) {
        for (const LineMachine& m : description->machines) {
            if (m.enabled && !m.foreign) {
                source = &m;
                break;
            }
        }
    }
    if (source == nullptr) return result;

    const int columnsTop = area.top();
    const int columnsBottom = result.legend.top() - 6;
    const int columnWidth = (area.width() - (kLineSlotCount - 1) * kColumnGap) / kLineSlotCount;
    for (int k = 0; k < kLineSlotCount; ++k) {
        Column column;
        const int slotGroup = source->groupSlots[static_cast<std::size_t>(k)];
        column.group = slotGroup >= 0 && slotGroup < kLineGroupCount ? slotGroup : -1;
        column.rect = QRect(area.left() + k * (columnWidth + kColumnGap), columnsTop, columnWidth,
                            columnsBottom - columnsTop + 1);
        column.header = QRect(column.rect.left(), column.rect.top(), columnWidth, kHeaderHeight);

        if (column.group >= 0) {
            std::vector<int> members;
            for (int i = 0; i < kLineMachineCount; ++i) {
                const LineMachine& m = description->machines[static_cast<std::size_t>(i)];
                if (m.enabled && m.group == column.group) members.push_back(i);
            }
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
    for (const Column& column : layout().columns) {
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

    const Layout parts = layout();
    if (parts.columns.empty()) {
        p.setPen(kInk);
        p.setFont(sized(font(), 16, true));
        p.drawText(rect(), Qt::AlignCenter,
                   model_.description() ? QStringLiteral("No display groups: the line has no own machine")
                                        : QStringLiteral("No line description"));
    }
    for (std::size_t k = 0; k < parts.columns.size(); ++k) {
        paintColumn(p, parts.columns[k]);
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

void LinePictureWidget::paintColumn(QPainter& p, const Column& column) const {
    const QRectF frame = QRectF(column.rect).adjusted(0.5, 0.5, -0.5, -0.5);
    if (column.group < 0) {
        p.setPen(QPen(kColumnBorder, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(frame, 5, 5);
        p.setPen(kColumnBorder);
        p.setFont(sized(font(), 11));
        p.drawText(column.rect, Qt::AlignCenter, QStringLiteral("(no group)"));
        return;
    }
    p.setPen(QPen(kColumnBorder, 1));
    p.setBrush(kColumnFill);
    p.drawRoundedRect(frame, 5, 5);

    const QRect header = column.header.adjusted(kTilePadding, 3, -kTilePadding, -3);
    const QString name =
        QString::fromStdString(model_.description()->groups[static_cast<std::size_t>(column.group)]);
    p.setPen(kInk);
    p.setFont(sized(font(), 12, true));
    p.save();
    p.setClipRect(header);
    p.drawText(header, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
               name.isEmpty() ? QStringLiteral("group %1").arg(column.group) : name);
    p.restore();
    p.setPen(QPen(kColumnBorder, 1));
    p.drawLine(column.header.left() + 1, column.header.bottom(), column.header.right() - 1,
               column.header.bottom());

    for (const Tile& tile : column.tiles) paintTile(p, tile);
    if (column.hidden > 0) {
        p.setPen(kInk);
        p.setFont(sized(font(), 10));
        p.drawText(QRect(column.rect.left(), column.rect.bottom() - kMoreLineHeight - 2, column.rect.width(),
                         kMoreLineHeight),
                   Qt::AlignCenter, QStringLiteral("+%1 more").arg(column.hidden));
    }
}

void LinePictureWidget::paintTile(QPainter& p, const Tile& tile) const {
    const LineMachine& described = model_.description()->machines[static_cast<std::size_t>(tile.machine)];
    const MachineState state = machineState(tile.machine);
    const QColor fill = statusColour(state.status);
    const QColor ink = inkOn(fill);

    const QRectF frame = QRectF(tile.rect).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setBrush(fill);
    // A foreign machine belongs to another line: a dashed border sets it apart from the own machines.
    p.setPen(described.foreign ? QPen(kInk, 1.5, Qt::DashLine) : QPen(fill.darker(160), 1));
    p.drawRoundedRect(frame, 4, 4);

    const QRect inner = tile.rect.adjusted(kTilePadding, 4, -kTilePadding, -4);
    // A tall tile gives the status a line of its own; a crowded column puts it beside the co-name.
    const bool roomy = tile.rect.height() >= kRoomyTileHeight;

    p.setPen(ink);
    const QFont nameFont = sized(font(), 11, true);
    p.setFont(nameFont);
    const QRect nameBox(inner.left(), inner.top(), inner.width(), 15);
    p.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(nameFont).elidedText(QString::fromStdString(described.name), Qt::ElideRight,
                                                 nameBox.width()));

    QRect detailBox(inner.left(), nameBox.bottom() + 1, inner.width(), 13);
    int badgeRight = detailBox.right();
    const int badgeSize = 13;
    for (const auto& [flag, letter, colour] :
         {std::tuple{described.foreign, QStringLiteral("F"), kForeignBadge},
          std::tuple{described.remote, QStringLiteral("R"), kRemoteBadge}}) {
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
    const QString coName = QString::fromStdString(described.coName);
    QRect lastBox = detailBox;
    if (roomy) {
        p.drawText(detailBox, Qt::AlignLeft | Qt::AlignVCenter,
                   detailMetrics.elidedText(coName, Qt::ElideRight, detailBox.width()));
        lastBox = QRect(inner.left(), detailBox.bottom() + 1, inner.width(), 13);
        p.setFont(sized(font(), 10, true));
        p.drawText(lastBox, Qt::AlignLeft | Qt::AlignVCenter, statusName(state.status));
    } else {
        const QString detail = coName.isEmpty() ? statusName(state.status)
                                                : coName + QStringLiteral(" · ") + statusName(state.status);
        p.drawText(detailBox, Qt::AlignLeft | Qt::AlignVCenter,
                   detailMetrics.elidedText(detail, Qt::ElideRight, detailBox.width()));
    }

    const QRect textBox(inner.left(), lastBox.bottom() + 3, inner.width(),
                        inner.bottom() - lastBox.bottom() - 2);
    if (!state.text.isEmpty() && textBox.height() >= 10) {
        p.save();
        p.setClipRect(textBox);
        p.setPen(ink);
        p.setFont(fontForLanguage(state.language));
        p.drawText(textBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, state.text);
        p.restore();
    }
}

void LinePictureWidget::paintLegend(QPainter& p, const QRect& area) const {
    const QFont legendFont = sized(font(), 10);
    const QFontMetrics metrics(legendFont);
    p.setFont(legendFont);
    int x = area.left();
    const int y = area.center().y();
    for (int status : {0, 1, 2, 3, 4, 5, 6, 7}) {
        const QString label = status == 7 ? QStringLiteral("other") : statusName(status);
        p.setPen(QPen(statusColour(status).darker(160), 1));
        p.setBrush(statusColour(status));
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
