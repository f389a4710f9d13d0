#pragma once

#include "render/bodymovin.h"

#include <QHash>
#include <QImage>
#include <QQuickItem>
#include <QUrl>

#include <list>

// Shows one frame of a Bodymovin document. The document is read once per source;
// a frame is painted only when the whole frame number (or the size) changes, and
// painted frames are kept in a cache bounded by bytes, so a replay paints nothing.
//
// A plain item with an image node rather than a QQuickPaintedItem: the cached
// frame is uploaded as it is, where a painted item would paint it once more into
// its own backing image on every change.
class BodymovinItem : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(QUrl source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(qreal frame READ frame WRITE setFrame NOTIFY frameChanged)
    Q_PROPERTY(bool loaded READ loaded NOTIFY loadedChanged)
    Q_PROPERTY(qreal frameRate READ frameRate NOTIFY loadedChanged)
    Q_PROPERTY(qreal inPoint READ inPoint NOTIFY loadedChanged)
    Q_PROPERTY(qreal outPoint READ outPoint NOTIFY loadedChanged)
    Q_PROPERTY(qint64 cacheLimit READ cacheLimit WRITE setCacheLimit NOTIFY cacheChanged)
    Q_PROPERTY(qint64 cacheBytes READ cacheBytes NOTIFY cacheChanged)
    // Frames painted since the item was made: what a replay from the cache does not raise.
    Q_PROPERTY(int renderCount READ renderCount NOTIFY renderCountChanged)

public:
    // One loop of the 220-pixel view (151 frames of ~190 KB) fits, so the loops
    // of one play after the first are drawn from the cache; releaseFrames() gives
    // it back when the play ends.
    static constexpr qint64 kDefaultCacheLimit = 32 * 1024 * 1024;

    explicit BodymovinItem(QQuickItem *parent = nullptr);
    ~BodymovinItem() override;

    QUrl source() const { return m_source; }
    void setSource(const QUrl &source);
    qreal frame() const { return m_frame; }
    void setFrame(qreal frame);
    bool loaded() const { return !m_document.isNull(); }
    qreal frameRate() const { return m_document.frameRate(); }
    qreal inPoint() const { return m_document.inPoint(); }
    qreal outPoint() const { return m_document.outPoint(); }
    qint64 cacheLimit() const { return m_cacheLimit; }
    void setCacheLimit(qint64 bytes);
    qint64 cacheBytes() const { return m_cacheBytes; }
    int renderCount() const { return m_renderCount; }
    int shownFrame() const { return m_shownFrame; }

    // The frame at the item's size times the window's pixel ratio, from the cache
    // or painted now (and then cached).
    QImage frameImage(int frame);
    // A play has ended: only the frame on screen stays, so a resting window does
    // not hold a loop's worth of pixels (a frame paints in about 2 ms again).
    Q_INVOKABLE void releaseFrames();

Q_SIGNALS:
    void sourceChanged();
    void frameChanged();
    void loadedChanged();
    void cacheChanged();
    void renderCountChanged();

protected:
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;
    void updatePolish() override;
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *data) override;

private:
    void load();
    void clearCache();
    void trimCache();
    QSize pixelSize() const;

    QUrl m_source;
    Bodymovin::Document m_document;
    qreal m_frame = 0;
    int m_shownFrame = 0;
    int m_renderCount = 0;

    // Least recently used at the front.
    std::list<int> m_order;
    QHash<int, std::pair<QImage, std::list<int>::iterator>> m_frames;
    QSize m_cacheSize;
    qint64 m_cacheBytes = 0;
    qint64 m_cacheLimit = kDefaultCacheLimit;

    // Handed from the polish (GUI thread) to the scene graph's sync.
    QImage m_pending;
    bool m_pendingChanged = false;
};
