// The line picture on the panel's window: the embedded line display's picture, drawn. Six columns, one
// per display slot, each with the machines of its group as tiles; a tile is filled with its status's
// colour and carries the machine's name, co-name, marks and text, the text in the font of its language.
// What is shown where is the picture's business; this widget only decides the pixels.
//
// The widget builds the picture at paint time and keeps nothing of it, so a repaint always shows the
// present state; the display's observer asks for that repaint. Layout and painting share one layout
// function, so what tileRect() reports is exactly where the tile is drawn.
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
#include "linepicture/line_picture.h"
#include "refdata/languages.h"

namespace orvanta {

class LinePictureWidget : public QWidget {
public:
    // The widget observes the model until it is destroyed; model and languages must outlive it.
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

    static QColor colourOf(Rgb colour) { return {colour.red, colour.green, colour.blue}; }

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
        const PictureColumn* shown = nullptr;
        QRect rect;
        QRect header;
        std::vector<Tile> tiles;
        int hidden = 0;  // machines that did not fit
    };
    struct Layout {
        std::vector<Column> columns;
        QRect legend;
    };
    // The picture is borrowed by the layout: it must outlive it.
    Layout layout(const LinePicture& picture) const;
    void paintColumn(QPainter& p, const LinePicture& picture, const Column& column) const;
    void paintTile(QPainter& p, const MachineLook& machine, const QRect& rect) const;
    void paintLegend(QPainter& p, const QRect& area) const;

    EmbeddedLineDisplay& model_;
    const LanguageTable* languages_;
    int observerKey_;
};

}  // namespace orvanta
