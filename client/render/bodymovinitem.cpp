#include "render/bodymovinitem.h"

#include "platform/platform.h"

#include <QFile>
#include <QQmlFile>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGTexture>

#include <cmath>
#include <memory>

namespace {

// The two connect animations are ~15 KB; anything near this is not one of ours.
constexpr qint64 kLargestDocument = 4 * 1024 * 1024;

// Owns the texture its image node shows: a new frame replaces it.
class FrameNode : public QSGNode
{
public:
    explicit FrameNode(QSGImageNode *node) : image(node) { appendChildNode(image); }
    QSGImageNode *image;
    std::unique_ptr<QSGTexture> texture;
};

} // namespace

BodymovinItem::BodymovinItem(QQuickItem *parent) : QQuickItem(parent)
{
    setFlag(ItemHasContents, true);
}

BodymovinItem::~BodymovinItem() = default;

void BodymovinItem::setSource(const QUrl &source)
{
    if (source == m_source)
        return;
    m_source = source;
    // Loaded first, so a handler of the change reads the new document's points.
    load();
    Q_EMIT sourceChanged();
}

void BodymovinItem::load()
{
    const bool wasLoaded = loaded();
    m_document = Bodymovin::Document();
    clearCache();
    QString error;
    if (!m_source.isEmpty()) {
        QFile file(QQmlFile::urlToLocalFileOrQrc(m_source));
        if (!file.open(QIODevice::ReadOnly))
            error = QStringLiteral("the file cannot be read (%1)").arg(file.errorString());
        else if (file.size() > kLargestDocument)
            error = QStringLiteral("the file is larger than %1 bytes").arg(kLargestDocument);
        else
            m_document = Bodymovin::Document::fromJson(file.readAll(), &error);
    }
    if (!error.isEmpty())
        qWarning("Bodymovin animation %s not loaded: %s", qPrintable(m_source.toString()), qPrintable(error));
    if (wasLoaded || loaded())
        Q_EMIT loadedChanged();
    polish();
}

void BodymovinItem::setFrame(qreal frame)
{
    if (frame == m_frame)
        return;
    m_frame = frame;
    Q_EMIT frameChanged();
    // Ticks between whole frames change nothing on screen.
    const double whole = std::floor(frame);
    const int shown = std::isfinite(whole) && std::abs(whole) < 1e6 ? int(whole) : 0;
    if (shown == m_shownFrame)
        return;
    m_shownFrame = shown;
    polish();
}

void BodymovinItem::setCacheLimit(qint64 bytes)
{
    bytes = qMax<qint64>(0, bytes);
    if (bytes == m_cacheLimit)
        return;
    m_cacheLimit = bytes;
    trimCache();
    Q_EMIT cacheChanged();
}

QSize BodymovinItem::pixelSize() const
{
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    return QSize(qMax(0, qRound(width() * ratio)), qMax(0, qRound(height() * ratio)));
}

void BodymovinItem::clearCache()
{
    const bool had = m_cacheBytes > 0;
    m_frames.clear();
    m_order.clear();
    m_cacheBytes = 0;
    if (had)
        Q_EMIT cacheChanged();
}

void BodymovinItem::trimCache()
{
    while (m_cacheBytes > m_cacheLimit && !m_order.empty()) {
        const auto found = m_frames.find(m_order.front());
        m_cacheBytes -= found->first.sizeInBytes();
        m_frames.erase(found);
        m_order.pop_front();
    }
}

void BodymovinItem::releaseFrames()
{
    const qint64 before = m_cacheBytes;
    const auto shown = m_frames.find(m_shownFrame);
    if (shown == m_frames.end()) {
        clearCache();
    } else if (m_frames.size() > 1) {
        QImage kept = shown->first;
        m_frames.clear();
        m_order.clear();
        m_order.push_back(m_shownFrame);
        m_frames.insert(m_shownFrame, {kept, std::prev(m_order.end())});
        m_cacheBytes = kept.sizeInBytes();
        Q_EMIT cacheChanged();
    }
    // A loop's frames are freed into the heap, which keeps them mapped unless asked.
    if (before - m_cacheBytes > 4 * 1024 * 1024)
        Platform::releaseUnusedMemory();
}

QImage BodymovinItem::frameImage(int frame)
{
    const QSize size = pixelSize();
    if (!loaded() || size.isEmpty())
        return QImage();
    if (size != m_cacheSize) {
        clearCache();
        m_cacheSize = size;
    }
    const auto found = m_frames.find(frame);
    if (found != m_frames.end()) {
        m_order.splice(m_order.end(), m_order, found->second);
        return found->first;
    }
    QImage image = m_document.render(frame, size);
    image.setDevicePixelRatio(window() ? window()->effectiveDevicePixelRatio() : 1.0);
    ++m_renderCount;
    Q_EMIT renderCountChanged();
    if (image.sizeInBytes() <= m_cacheLimit) {
        m_order.push_back(frame);
        m_frames.insert(frame, {image, std::prev(m_order.end())});
        m_cacheBytes += image.sizeInBytes();
        trimCache();
        Q_EMIT cacheChanged();
    }
    return image;
}

void BodymovinItem::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size()) {
        clearCache();
        polish();
    }
}

void BodymovinItem::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickItem::itemChange(change, value);
    if (change == ItemDevicePixelRatioHasChanged || change == ItemSceneChange)
        polish();
}

// Painting happens here, on the GUI thread before the scene graph syncs, so the
// counters' signals stay on the thread that owns the item.
void BodymovinItem::updatePolish()
{
    m_pending = frameImage(m_shownFrame);
    m_pendingChanged = true;
    update();
}

QSGNode *BodymovinItem::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *)
{
    auto *node = static_cast<FrameNode *>(oldNode);
    if (m_pendingChanged && m_pending.isNull()) {
        delete node;
        m_pendingChanged = false;
        return nullptr;
    }
    if (!node) {
        if (m_pending.isNull())
            return nullptr;
        node = new FrameNode(window()->createImageNode());
        node->image->setFiltering(QSGTexture::Linear);
        m_pendingChanged = true;
    }
    if (m_pendingChanged) {
        std::unique_ptr<QSGTexture> texture(
            window()->createTextureFromImage(m_pending, QQuickWindow::TextureHasAlphaChannel));
        node->image->setTexture(texture.get());
        node->texture = std::move(texture);
        m_pendingChanged = false;
    }
    node->image->setRect(boundingRect());
    return node;
}
