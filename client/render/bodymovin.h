#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QSize>
#include <QString>

#include <memory>

// The subset of Bodymovin (Lottie) the connect animations use: shape layers with
// groups of paths and solid fills, transforms (anchor, position, scale, rotation,
// opacity) and keyframed values with Bézier easing and hold frames. The document
// is read and checked once; a frame is then evaluated into filled paths and
// painted with QPainter.
namespace Bodymovin {

struct DocumentData;

// One fill of one frame: the path in document coordinates and its colour with
// the opacity of its groups and layer folded into the alpha.
struct FilledPath {
    QPainterPath path;
    QColor colour;
};

class Document
{
public:
    Document();
    ~Document();
    Document(Document &&) noexcept;
    Document &operator=(Document &&) noexcept;

    // Reads a document; on failure the document stays empty and `error` says why
    // (one English sentence without a trailing full stop).
    static Document fromJson(const QByteArray &json, QString *error);

    bool isNull() const;
    double frameRate() const;
    double inPoint() const;
    double outPoint() const;
    QSizeF size() const;

    QList<FilledPath> evaluate(int frame) const;
    // The frame scaled uniformly into `pixelSize` and centred, antialiased, on
    // transparency. A null document gives a transparent image.
    QImage render(int frame, const QSize &pixelSize) const;

private:
    std::unique_ptr<DocumentData> d;
};

} // namespace Bodymovin
