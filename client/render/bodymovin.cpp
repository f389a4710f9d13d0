#include "render/bodymovin.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPointF>
#include <QTransform>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Bodymovin {

namespace {

// Beyond these a document is not an animation for a 220-pixel button but a way to
// make the painter spend its time or overflow; it is refused as a whole.
constexpr double kLargestNumber = 1e6;
constexpr int kDeepestGroup = 32;

using Vector = QVector<double>;

struct Shape {
    QVector<QPointF> vertices;
    QVector<QPointF> ins;
    QVector<QPointF> outs;
    bool closed = false;
};

// An easing handle; an axis left out takes the default of its side.
struct Handle {
    bool present = false;
    std::optional<double> x;
    std::optional<double> y;
};

template <typename T>
struct Keyframe {
    double t = 0;
    std::optional<T> start;
    std::optional<T> end;
    bool hold = false;
    Handle out;
    Handle in;
};

// Either one value or keyframes; an absent value takes the default of its use.
template <typename T>
struct Property {
    std::optional<T> value;
    QVector<Keyframe<T>> keys;
};

struct Transform {
    Property<Vector> position;
    Property<Vector> anchor;
    Property<Vector> scale;
    Property<Vector> rotation;
    Property<Vector> opacity;
};

struct Group;

struct Item {
    enum Kind { Path, Fill, SubGroup } kind = Path;
    Property<Shape> path;
    Property<Vector> colour;
    Property<Vector> opacity;
    std::shared_ptr<Group> group;
};

struct Group {
    std::optional<Transform> transform;
    QVector<Item> items;
};

struct Layer {
    Transform transform;
    bool hasTransform = false;
    QVector<Group> groups; // in file order; drawn from the last
};

} // namespace

struct DocumentData {
    double frameRate = 25;
    double inPoint = 0;
    double outPoint = 151;
    double width = 220;
    double height = 220;
    QVector<Layer> layers; // in file order; drawn from the last
};

namespace {

// --- reading

class Reader
{
public:
    QString error;

    bool failed() const { return !error.isEmpty(); }

    void fail(const QString &why)
    {
        if (error.isEmpty())
            error = why;
    }

    std::optional<double> number(const QJsonValue &value, const QString &what)
    {
        if (!value.isDouble()) {
            fail(QStringLiteral("%1 is not a number").arg(what));
            return std::nullopt;
        }
        const double n = value.toDouble();
        if (!std::isfinite(n) || std::abs(n) > kLargestNumber) {
            fail(QStringLiteral("%1 is out of range").arg(what));
            return std::nullopt;
        }
        return n;
    }

    // A number or an array of numbers, as transforms and colours carry them.
    std::optional<Vector> vector(const QJsonValue &value, const QString &what)
    {
        Vector out;
        if (value.isArray()) {
            for (const QJsonValue &element : value.toArray()) {
                const auto n = number(element, what);
                if (!n)
                    return std::nullopt;
                out << *n;
            }
            return out;
        }
        const auto n = number(value, what);
        if (!n)
            return std::nullopt;
        out << *n;
        return out;
    }

    std::optional<QVector<QPointF>> points(const QJsonValue &value, const QString &what)
    {
        if (!value.isArray()) {
            fail(QStringLiteral("%1 is not a list of points").arg(what));
            return std::nullopt;
        }
        QVector<QPointF> out;
        for (const QJsonValue &element : value.toArray()) {
            const QJsonArray pair = element.toArray();
            if (!element.isArray() || pair.size() < 2) {
                fail(QStringLiteral("%1 has a point that is not a pair of numbers").arg(what));
                return std::nullopt;
            }
            const auto x = number(pair.at(0), what);
            const auto y = number(pair.at(1), what);
            if (!x || !y)
                return std::nullopt;
            out << QPointF(*x, *y);
        }
        return out;
    }

    std::optional<Shape> shape(const QJsonValue &value)
    {
        // Keyframe values of paths come wrapped in a one-element array.
        QJsonValue unwrapped = value;
        if (value.isArray() && value.toArray().size() == 1 && value.toArray().at(0).isObject())
            unwrapped = value.toArray().at(0);
        const QJsonObject object = unwrapped.toObject();
        if (!unwrapped.isObject() || !object.value(QLatin1String("v")).isArray()) {
            fail(QStringLiteral("a path has no vertex list"));
            return std::nullopt;
        }
        Shape out;
        const auto vertices = points(object.value(QLatin1String("v")), QStringLiteral("a path's vertices"));
        if (!vertices)
            return std::nullopt;
        out.vertices = *vertices;
        for (const char *key : {"i", "o"}) {
            const QJsonValue tangents = object.value(QLatin1String(key));
            if (tangents.isUndefined() || tangents.isNull())
                continue;
            const auto list = points(tangents, QStringLiteral("a path's tangents"));
            if (!list)
                return std::nullopt;
            (key[0] == 'i' ? out.ins : out.outs) = *list;
        }
        out.closed = object.value(QLatin1String("c")).toBool(false);
        return out;
    }

    std::optional<Vector> value(const QJsonValue &json, Vector *) { return vector(json, QStringLiteral("a value")); }
    std::optional<Shape> value(const QJsonValue &json, Shape *) { return shape(json); }

    Handle handle(const QJsonValue &json)
    {
        Handle out;
        if (json.isUndefined() || json.isNull())
            return out;
        if (!json.isObject()) {
            fail(QStringLiteral("an easing handle is not an object"));
            return out;
        }
        out.present = true;
        const QJsonObject object = json.toObject();
        for (const char *axis : {"x", "y"}) {
            QJsonValue v = object.value(QLatin1String(axis));
            if (v.isUndefined())
                continue;
            if (v.isArray()) {
                if (v.toArray().isEmpty())
                    continue;
                v = v.toArray().at(0);
            }
            const auto n = number(v, QStringLiteral("an easing handle"));
            (axis[0] == 'x' ? out.x : out.y) = n;
        }
        return out;
    }

    template <typename T>
    Property<T> property(const QJsonValue &json)
    {
        Property<T> out;
        if (json.isUndefined() || json.isNull())
            return out;
        if (!json.isObject()) {
            // A bare value stands for itself.
            out.value = value(json, static_cast<T *>(nullptr));
            return out;
        }
        const QJsonValue k = json.toObject().value(QLatin1String("k"));
        if (k.isUndefined() || k.isNull())
            return out;
        const QJsonArray list = k.toArray();
        const bool keyframes = k.isArray() && !list.isEmpty() && list.at(0).isObject()
                               && !list.at(0).toObject().contains(QLatin1String("v"));
        if (!keyframes) {
            out.value = value(k, static_cast<T *>(nullptr));
            return out;
        }
        for (const QJsonValue &entry : list) {
            const QJsonObject object = entry.toObject();
            if (!entry.isObject() || !object.value(QLatin1String("t")).isDouble()) {
                fail(QStringLiteral("a keyframe has no time"));
                return out;
            }
            Keyframe<T> key;
            key.t = number(object.value(QLatin1String("t")), QStringLiteral("a keyframe time")).value_or(0);
            const QJsonValue s = object.value(QLatin1String("s"));
            const QJsonValue e = object.value(QLatin1String("e"));
            if (!s.isUndefined() && !s.isNull())
                key.start = value(s, static_cast<T *>(nullptr));
            if (!e.isUndefined() && !e.isNull())
                key.end = value(e, static_cast<T *>(nullptr));
            key.hold = object.value(QLatin1String("h")).toDouble(0) == 1;
            key.out = handle(object.value(QLatin1String("o")));
            key.in = handle(object.value(QLatin1String("i")));
            if (failed())
                return out;
            out.keys << key;
        }
        return out;
    }

    Transform transform(const QJsonObject &object)
    {
        Transform out;
        out.position = property<Vector>(object.value(QLatin1String("p")));
        out.anchor = property<Vector>(object.value(QLatin1String("a")));
        out.scale = property<Vector>(object.value(QLatin1String("s")));
        out.rotation = property<Vector>(object.contains(QLatin1String("r")) ? object.value(QLatin1String("r"))
                                                                           : object.value(QLatin1String("rz")));
        out.opacity = property<Vector>(object.value(QLatin1String("o")));
        return out;
    }

    QJsonArray list(const QJsonObject &object, const char *key, const QString &what)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull())
            return {};
        if (!value.isArray())
            fail(QStringLiteral("%1 is not a list").arg(what));
        return value.toArray();
    }

    Group group(const QJsonObject &object, int depth)
    {
        Group out;
        if (depth > kDeepestGroup) {
            fail(QStringLiteral("its groups are nested too deeply"));
            return out;
        }
        const QJsonArray items = list(object, "it", QStringLiteral("a group's items"));
        for (const QJsonValue &entry : items) {
            const QJsonObject item = entry.toObject();
            if (item.value(QLatin1String("ty")).toString() == QLatin1String("tr")) {
                out.transform = transform(item);
                break;
            }
        }
        for (const QJsonValue &entry : items) {
            if (failed())
                break;
            const QJsonObject item = entry.toObject();
            if (!entry.isObject() || item.value(QLatin1String("hd")).toBool(false))
                continue;
            const QString type = item.value(QLatin1String("ty")).toString();
            Item parsed;
            if (type == QLatin1String("sh")) {
                parsed.kind = Item::Path;
                parsed.path = property<Shape>(item.value(QLatin1String("ks")));
            } else if (type == QLatin1String("fl")) {
                parsed.kind = Item::Fill;
                parsed.colour = property<Vector>(item.value(QLatin1String("c")));
                parsed.opacity = property<Vector>(item.value(QLatin1String("o")));
            } else if (type == QLatin1String("gr")) {
                parsed.kind = Item::SubGroup;
                parsed.group = std::make_shared<Group>(group(item, depth + 1));
            } else {
                continue; // strokes, masks and the rest are not drawn
            }
            out.items << parsed;
        }
        return out;
    }
};

// Whether anything of a group can ever reach the image: a path with vertices
// somewhere in its values, then a fill.
bool drawsSomething(const Group &group)
{
    bool path = false;
    for (const Item &item : group.items) {
        if (item.kind == Item::SubGroup) {
            if (drawsSomething(*item.group))
                return true;
        } else if (item.kind == Item::Path) {
            path = item.path.value && !item.path.value->vertices.isEmpty();
            for (const auto &key : item.path.keys)
                path = path || (key.start && !key.start->vertices.isEmpty()) || (key.end && !key.end->vertices.isEmpty());
        } else if (path) {
            return true;
        }
    }
    return false;
}

// --- evaluation

double bezierCoordinate(double t, double p1, double p2)
{
    const double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
}

double bezierSlope(double t, double p1, double p2)
{
    const double u = 1 - t;
    return 3 * u * u * p1 + 6 * u * t * (p2 - p1) + 3 * t * t * (1 - p2);
}

// The easing curve runs from (0,0) to (1,1) through the two handles; solve
// x(t) = progress first by Newton steps, then tighten by bisection.
double easedProgress(double progress, double x1, double y1, double x2, double y2)
{
    if (progress <= 0 || progress >= 1)
        return progress;
    double t = progress;
    for (int n = 0; n < 5; ++n) {
        const double slope = bezierSlope(t, x1, x2);
        if (std::abs(slope) < 0.0001)
            break;
        t -= (bezierCoordinate(t, x1, x2) - progress) / slope;
    }
    t = std::clamp(t, 0.0, 1.0);
    double low = 0;
    double high = 1;
    for (int step = 0; step < 6; ++step) {
        const double x = bezierCoordinate(t, x1, x2);
        if (std::abs(x - progress) < 0.0005)
            break;
        if (x < progress)
            low = t;
        else
            high = t;
        t = (low + high) / 2;
    }
    return bezierCoordinate(t, y1, y2);
}

double mix(double a, double b, double p) { return a + (b - a) * p; }

Vector interpolate(const Vector &a, const Vector &b, double p)
{
    Vector out = a;
    for (int i = 0; i < a.size() && i < b.size(); ++i)
        out[i] = mix(a[i], b[i], p);
    return out;
}

QVector<QPointF> interpolate(const QVector<QPointF> &a, const QVector<QPointF> &b, double p)
{
    QVector<QPointF> out = a;
    for (int i = 0; i < a.size() && i < b.size(); ++i)
        out[i] = QPointF(mix(a[i].x(), b[i].x(), p), mix(a[i].y(), b[i].y(), p));
    return out;
}

Shape interpolate(const Shape &a, const Shape &b, double p)
{
    if (a.vertices.size() != b.vertices.size())
        return a;
    Shape out;
    out.vertices = interpolate(a.vertices, b.vertices, p);
    out.ins = interpolate(a.ins, b.ins, p);
    out.outs = interpolate(a.outs, b.outs, p);
    out.closed = a.closed;
    return out;
}

double handleAxis(const Handle &handle, const std::optional<double> Handle::*axis, double fallback)
{
    return handle.present ? (handle.*axis).value_or(fallback) : fallback;
}

template <typename T>
std::optional<T> valueAt(const Property<T> &property, double frame)
{
    const auto &keys = property.keys;
    if (keys.isEmpty())
        return property.value;
    if (frame <= keys.first().t || keys.size() == 1)
        return keys.first().start;
    for (int i = 0; i + 1 < keys.size(); ++i) {
        const Keyframe<T> &current = keys.at(i);
        const Keyframe<T> &next = keys.at(i + 1);
        if (frame >= next.t)
            continue;
        const std::optional<T> &start = current.start;
        const std::optional<T> &end = current.end ? current.end : next.start;
        if (!end || current.hold || !start)
            return start;
        const double linear = std::clamp((frame - current.t) / std::max(1.0, next.t - current.t), 0.0, 1.0);
        const Handle &in = next.in.present ? next.in : current.in;
        const double eased = easedProgress(linear, handleAxis(current.out, &Handle::x, 0.167),
                                           handleAxis(current.out, &Handle::y, 0.167),
                                           handleAxis(in, &Handle::x, 0.833), handleAxis(in, &Handle::y, 0.833));
        return interpolate(*start, *end, eased);
    }
    const Keyframe<T> &last = keys.last();
    if (last.start)
        return last.start;
    const Keyframe<T> &previous = keys.size() > 1 ? keys.at(keys.size() - 2) : last;
    return previous.end ? previous.end : previous.start;
}

double component(const std::optional<Vector> &value, int index, double fallback)
{
    return value && index < value->size() ? value->at(index) : fallback;
}

// Applies the transform to `matrix` the way a 2D canvas does (the last call
// acts first on a point) and returns its opacity as a fraction.
double applyTransform(QTransform &matrix, const Transform *transform, double frame)
{
    if (!transform)
        return 1;
    const auto position = valueAt(transform->position, frame);
    const auto anchor = valueAt(transform->anchor, frame);
    const auto scale = valueAt(transform->scale, frame);
    const auto rotation = valueAt(transform->rotation, frame);
    const auto opacity = valueAt(transform->opacity, frame);
    matrix.translate(component(position, 0, 0), component(position, 1, 0));
    const double degrees = component(rotation, 0, 0);
    if (degrees != 0)
        matrix.rotate(degrees);
    matrix.scale(component(scale, 0, 100) / 100, component(scale, 1, 100) / 100);
    matrix.translate(-component(anchor, 0, 0), -component(anchor, 1, 0));
    return component(opacity, 0, 100) / 100;
}

QPointF tangent(const QVector<QPointF> &list, int k)
{
    return k < list.size() ? list.at(k) : QPointF();
}

bool tracePath(QPainterPath &current, const std::optional<Shape> &shape, const QTransform &matrix)
{
    if (!shape || shape->vertices.isEmpty())
        return false;
    const QVector<QPointF> &v = shape->vertices;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    auto segment = [&](int from, int to) {
        path.cubicTo(v[from] + tangent(shape->outs, from), v[to] + tangent(shape->ins, to), v[to]);
    };
    path.moveTo(v.first());
    for (int k = 0; k + 1 < v.size(); ++k)
        segment(k, k + 1);
    if (shape->closed) {
        segment(v.size() - 1, 0);
        path.closeSubpath();
    }
    // Mapped now, like a canvas path: a fill later in another transform still fills it here.
    current = matrix.map(path);
    return true;
}

void drawGroup(QList<FilledPath> &out, QPainterPath &current, const Group &group, QTransform matrix,
               double inheritedOpacity, double frame)
{
    const double opacity = inheritedOpacity * applyTransform(matrix, group.transform ? &*group.transform : nullptr, frame);
    bool hasPath = false;
    for (const Item &item : group.items) {
        switch (item.kind) {
        case Item::Path:
            hasPath = tracePath(current, valueAt(item.path, frame), matrix);
            break;
        case Item::Fill:
            if (hasPath) {
                const auto colour = valueAt(item.colour, frame);
                const double fillOpacity = component(valueAt(item.opacity, frame), 0, 100) / 100;
                const double alpha = std::clamp(opacity * fillOpacity, 0.0, 1.0);
                auto unit = [](double value) { return std::clamp(value, 0.0, 1.0); };
                const QColor fill = QColor::fromRgbF(
                    float(unit(component(colour, 0, 0.98))), float(unit(component(colour, 1, 0.58))),
                    float(unit(component(colour, 2, 0.04))), float(unit(component(colour, 3, 1)) * alpha));
                out.append({current, fill});
            }
            break;
        case Item::SubGroup:
            drawGroup(out, current, *item.group, matrix, opacity, frame);
            break;
        }
    }
}

} // namespace

Document::Document() = default;
Document::~Document() = default;
Document::Document(Document &&) noexcept = default;
Document &Document::operator=(Document &&) noexcept = default;

Document Document::fromJson(const QByteArray &json, QString *error)
{
    Document document;
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return Document();
    };
    QJsonParseError parseError;
    const QJsonDocument parsed = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("not JSON (%1 at offset %2)").arg(parseError.errorString()).arg(parseError.offset));
    if (!parsed.isObject())
        return fail(QStringLiteral("not a JSON object"));
    const QJsonObject root = parsed.object();
    if (!root.value(QLatin1String("layers")).isArray())
        return fail(QStringLiteral("it has no layer list"));

    Reader reader;
    auto data = std::make_unique<DocumentData>();
    auto numberOr = [&](const char *key, double fallback) {
        const QJsonValue value = root.value(QLatin1String(key));
        return value.isUndefined() ? fallback
                                   : reader.number(value, QStringLiteral("\"%1\"").arg(QLatin1String(key))).value_or(fallback);
    };
    data->frameRate = numberOr("fr", 25);
    data->inPoint = numberOr("ip", 0);
    data->outPoint = numberOr("op", 151);
    data->width = numberOr("w", 220);
    data->height = numberOr("h", 220);
    if (!reader.failed() && (data->width <= 0 || data->height <= 0))
        reader.fail(QStringLiteral("its size is empty"));
    if (!reader.failed() && (data->frameRate <= 0 || data->frameRate > 1000))
        reader.fail(QStringLiteral("its frame rate is out of range"));
    if (!reader.failed() && data->outPoint <= data->inPoint)
        reader.fail(QStringLiteral("its out-point is not after its in-point"));

    bool drawable = false;
    for (const QJsonValue &entry : root.value(QLatin1String("layers")).toArray()) {
        if (reader.failed())
            break;
        if (!entry.isObject()) {
            reader.fail(QStringLiteral("a layer is not an object"));
            break;
        }
        const QJsonObject object = entry.toObject();
        if (object.value(QLatin1String("ty")).toDouble(-1) != 4 || object.value(QLatin1String("hd")).toBool(false))
            continue; // only shape layers are drawn
        Layer layer;
        const QJsonValue ks = object.value(QLatin1String("ks"));
        if (ks.isObject()) {
            layer.hasTransform = true;
            layer.transform = reader.transform(ks.toObject());
        }
        for (const QJsonValue &shape : reader.list(object, "shapes", QStringLiteral("a layer's shapes"))) {
            const QJsonObject group = shape.toObject();
            if (reader.failed())
                break;
            if (group.value(QLatin1String("ty")).toString() != QLatin1String("gr") || group.value(QLatin1String("hd")).toBool(false))
                continue;
            layer.groups << reader.group(group, 1);
            drawable = drawable || drawsSomething(layer.groups.last());
        }
        data->layers << layer;
    }
    if (!reader.failed() && !drawable)
        reader.fail(QStringLiteral("it has nothing to draw"));
    if (reader.failed())
        return fail(reader.error);
    document.d = std::move(data);
    return document;
}

bool Document::isNull() const { return !d; }
double Document::frameRate() const { return d ? d->frameRate : 25; }
double Document::inPoint() const { return d ? d->inPoint : 0; }
double Document::outPoint() const { return d ? d->outPoint : 151; }
QSizeF Document::size() const { return d ? QSizeF(d->width, d->height) : QSizeF(); }

QList<FilledPath> Document::evaluate(int frame) const
{
    QList<FilledPath> out;
    if (!d)
        return out;
    QPainterPath current;
    for (auto layer = d->layers.crbegin(); layer != d->layers.crend(); ++layer) {
        QTransform matrix;
        const double opacity = applyTransform(matrix, layer->hasTransform ? &layer->transform : nullptr, frame);
        // Like the layer list, the first shape is the top-most one.
        for (auto group = layer->groups.crbegin(); group != layer->groups.crend(); ++group)
            drawGroup(out, current, *group, matrix, opacity, frame);
    }
    return out;
}

QImage Document::render(int frame, const QSize &pixelSize) const
{
    QImage image(pixelSize, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.fill(Qt::transparent);
    if (!d)
        return image;
    const double scale = std::min(pixelSize.width() / d->width, pixelSize.height() / d->height);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.translate((pixelSize.width() - d->width * scale) / 2, (pixelSize.height() - d->height * scale) / 2);
    painter.scale(scale, scale);
    for (const FilledPath &fill : evaluate(frame))
        painter.fillPath(fill.path, fill.colour);
    return image;
}

} // namespace Bodymovin
