#include "ui/artwork.h"

#include <QAbstractButton>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
#include <QWidget>
#include <QtMath>
#include <functional>
#include <utility>

#include "ui/image_button.h"

// Qt's resource initialiser must be called from the global namespace.
static void InitialiseTesselResources() {
    Q_INIT_RESOURCE(tessel);
}

namespace tessel::ui {
namespace {

constexpr char kIconPicture[] = "tessel.svg";
constexpr char kHandPicture[] = "hand.svg";
constexpr int kHandHotSpotX = 12;  // the fingertip, in logical pixels
constexpr int kHandHotSpotY = 1;

// The resources are registered once, before the first picture is read, in the program and in
// tests alike.
void EnsureResources() {
    static const bool ready = [] {
        InitialiseTesselResources();
        return true;
    }();
    (void)ready;
}

// Draws the whole picture into a pixmap of `pixels` device pixels, on a transparent ground.
QPixmap Draw(QSvgRenderer& renderer, QSize pixels) {
    QPixmap pixmap(pixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    return pixmap;
}

// Calls `draw` with the widget's device pixel ratio now, and again each time the widget's
// window reaches a screen of another ratio. It lives as long as the widget.
class PixelRatioFollower final : public QObject {
  public:
    PixelRatioFollower(QWidget& widget, std::function<void(qreal)> draw)
        : QObject(&widget), widget_(widget), draw_(std::move(draw)) {
        Follow();
        widget.installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &widget_ && IsScreenChange(event->type())) Follow();
        return false;
    }

  private:
    static bool IsScreenChange(QEvent::Type type) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
        if (type == QEvent::DevicePixelRatioChange) return true;
#endif
        return type == QEvent::ScreenChangeInternal;
    }

    void Follow() {
        const qreal ratio = widget_.devicePixelRatio();
        if (drawnRatio_ > 0 && qFuzzyCompare(ratio, drawnRatio_)) return;
        drawnRatio_ = ratio;
        draw_(ratio);
    }

    QWidget& widget_;
    std::function<void(qreal)> draw_;
    qreal drawnRatio_ = 0;
};

}  // namespace

QPixmap RenderPicture(const QString& name, qreal devicePixelRatio) {
    EnsureResources();
    QSvgRenderer renderer(QStringLiteral(":/") + name);
    if (!renderer.isValid()) return {};
    const QSize logical = renderer.defaultSize();
    const QSize pixels(qCeil(logical.width() * devicePixelRatio),
                       qCeil(logical.height() * devicePixelRatio));
    QPixmap pixmap = Draw(renderer, pixels);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

void ShowPicture(QLabel& label, const QString& name) {
    new PixelRatioFollower(
        label, [&label, name](qreal ratio) { label.setPixmap(RenderPicture(name, ratio)); });
}

void ShowPicture(ImageButton& image, const QString& name) {
    new PixelRatioFollower(
        image, [&image, name](qreal ratio) { image.SetPicture(RenderPicture(name, ratio)); });
}

void ShowPicture(QAbstractButton& button, const QString& name) {
    new PixelRatioFollower(button, [&button, name](qreal ratio) {
        const QPixmap pixmap = RenderPicture(name, ratio);
        button.setIcon(QIcon(pixmap));
        button.setIconSize(pixmap.deviceIndependentSize().toSize());
    });
}

void ShowHandCursor(QWidget& widget) {
    new PixelRatioFollower(widget, [&widget](qreal ratio) { widget.setCursor(HandCursor(ratio)); });
}

QIcon WindowIcon() {
    EnsureResources();
    QSvgRenderer renderer(QStringLiteral(":/") + QString::fromLatin1(kIconPicture));
    QIcon icon;
    if (!renderer.isValid()) return icon;
    for (const int size : kWindowIconSizes) icon.addPixmap(Draw(renderer, QSize(size, size)));
    return icon;
}

QCursor HandCursor(qreal devicePixelRatio) {
    // QCursor takes the hot spot in logical pixels, but Qt's X11 platform (6.4) hands it to the
    // X server unchanged beside the pixmap's device pixels; there it is given in those.
    const qreal spotScale =
        QGuiApplication::platformName() == QLatin1String("xcb") ? devicePixelRatio : 1;
    return QCursor(RenderPicture(QString::fromLatin1(kHandPicture), devicePixelRatio),
                   qRound(kHandHotSpotX * spotScale), qRound(kHandHotSpotY * spotScale));
}

}  // namespace tessel::ui
