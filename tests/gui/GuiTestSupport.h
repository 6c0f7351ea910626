#pragma once

// Shared set-up of the display widget tests: a fixed style and palette so pixels are predictable,
// a settings file in the temporary folder, pixel helpers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QRect>
#include <QStyle>
#include <QWidget>
#include <filesystem>
#include <string>

namespace varnel::guitest {

inline constexpr QRgb kButton = 0xFFD4D0C8;
inline constexpr QRgb kLight = 0xFFFFFFFF;
inline constexpr QRgb kDark = 0xFF808080;
inline constexpr QRgb kHighlight = 0xFF3060C0;
inline constexpr QRgb kHighlightedText = 0xFF00FFFF;

// Sets the fixed look; the returned object puts the application's previous style, palette and font
// back when it goes, so tests that run after in the same process see what they would have seen.
class FixedLook {
  public:
    FixedLook()
        : style_(QApplication::style()->name()),
          palette_(QApplication::palette()),
          font_(QApplication::font()) {
        Apply();
    }
    ~FixedLook() {
        QApplication::setStyle(style_);
        QApplication::setPalette(palette_);
        QApplication::setFont(font_);
    }
    FixedLook(const FixedLook&) = delete;
    FixedLook& operator=(const FixedLook&) = delete;

  private:
    static void Apply();
    QString style_;
    QPalette palette_;
    QFont font_;
};

inline void FixedLook::Apply() {
    QApplication::setStyle("Fusion");
    QPalette pal;
    pal.setColor(QPalette::Window, QColor(kButton));
    pal.setColor(QPalette::Button, QColor(kButton));
    pal.setColor(QPalette::ButtonText, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::black);
    pal.setColor(QPalette::Light, QColor(kLight));
    pal.setColor(QPalette::Dark, QColor(kDark));
    pal.setColor(QPalette::Mid, QColor(0xFFA0A0A0));
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    pal.setColor(QPalette::Highlight, QColor(kHighlight));
    pal.setColor(QPalette::HighlightedText, QColor(kHighlightedText));
    QApplication::setPalette(pal);
    // Text without antialiasing: every glyph pixel is exactly the pen colour.
    QFont font("DejaVu Sans", 9);
    font.setStyleStrategy(QFont::NoAntialias);
    QApplication::setFont(font);
}

// Renders `w` as it would appear on screen, after pending layout work.
inline QImage Grab(QWidget* w) {
    QApplication::processEvents();
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline int CountColour(const QImage& img, const QRect& area, QRgb colour) {
    int n = 0;
    const QRect r = area.intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if ((img.pixel(x, y) | 0xFF000000) == (colour | 0xFF000000)) ++n;
    return n;
}

inline QRgb Pixel(const QImage& img, int x, int y) {
    return img.pixel(x, y) | 0xFF000000;
}

// A settings file path unique to the running test; removed at both ends.
class TempSettings {
  public:
    TempSettings() {
        path_ = std::filesystem::temp_directory_path() /
                ("varnel-gui-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini");
        std::filesystem::remove(path_);
    }
    ~TempSettings() { std::filesystem::remove(path_); }
    std::string path() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace varnel::guitest
