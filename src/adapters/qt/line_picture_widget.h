// The line picture: what the embedded line-display component shows the operator. Six columns, one per
// display group of the line, each with the machines of that group as tiles. A tile's fill is the
// machine's status, and it carries the machine's name, co-name and alarm text, the text in the font of
// its language. Own machines show what the cyclic pass handed their slot; foreign machines show their
// live values from the line source.
//
// The widget reads the model at paint time and keeps nothing of it, so a repaint always shows the
// present state; the model's display observer asks for that repaint. Layout and painting share one
// layout function, so what tileRect() reports is exactly where the tile is drawn.
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <vector>

#include "adapters/embedded/embedded_line_display.h"
#include "refdata/languages.h"

namespace orvanta {

class LinePictureWidget : public QWidget {
public:
    // The widget becomes the model's display observer until it is destroyed; both must outlive it.
    // languages: the plant's language table for the alarm texts' fonts; it may be filled later.
    explicit LinePictureWidget(EmbeddedLineDisplay& model, const LanguageTable* languages = nullptr,
                               QWidget* parent = nullptr);
    ~LinePictureWidget() override;
    // The language table once it is known (the main form reads it at its initialisation).
    void setLanguages(const LanguageTable* languages) {
        languages_ = languages;
        update();
    }
    LinePictureWidget(const LinePictureWidget&) = delete;
    LinePictureWidget& operator=(const LinePictureWidget&) = delete;

    // The fill of a tile for a status code: 0 no data, 1 running, 2 warning, 3 message, 4 fault,
    // 5 not connected, 6 maintenance; any other code is unknown.
    static QColor statusColour(int status);
    static QString statusName(int status);

    // Where machine 0..63 is drawn at the widget's present size; empty when it is not shown.
    std::optional<QRect> tileRect(int machine) const;
    // The font an alarm text of this language is drawn in.
    QFont fontForLanguage(std::int32_t language) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Tile {
        int machine = 0;
        QRect rect;
    };
    struct Column {
        int group = -1;  // -1: an empty display slot
        QRect rect;
        QRect header;
        std::vector<Tile> tiles;
        int hidden = 0;  // machines that did not fit
    };
    struct Layout {
        std::vector<Column> columns;
        QRect legend;
    };
    struct MachineState {
        int status = 0;
        QString text;
        std::int32_t language = 0;
    };

    Layout layout() const;
    MachineState machineState(int machine) const;
    void paintColumn(QPainter& p, const Column& column) const;
    void paintTile(QPainter& p, const Tile& tile) const;
    void paintLegend(QPainter& p, const QRect& area) const;

    EmbeddedLineDisplay& model_;
    const LanguageTable* languages_;
};

}  // namespace orvanta
