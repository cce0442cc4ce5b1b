#pragma once
// The entries of one loop's tolerance band on one line: how the band is set (around SV, or fixed
// limits), the plus-or-minus around SV, the hysteresis where the window uses one, and the fixed
// limits with their captions. What does not count in the chosen way takes no input.

#include <QString>
#include <QWidget>
#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;

namespace ui {

class BandEditor : public QWidget {
    Q_OBJECT
  public:
    struct Look {
        // Each control's object name, "%1" standing for its part: Mode (the list) or Fixed (the
        // box), Width, Hysteresis, Low, High.
        QString names;
        QString pv, sv;  // the loop's words, "PV1" and "SV1"
        // A list "SV1 ± 允差" / "固定上下限" first, the entry after it marked "± "; otherwise a
        // caption "PV1 SV±" first and a box "固定上下限" after the entries around SV.
        bool modeList = true;
        bool hysteresis = false;  // with an entry of the hysteresis
        QString widthName;        // what the entry around SV is called
    };
    explicit BandEditor(const Look& look, QWidget* parent = nullptr);

    // What the entries hold; the hysteresis is none without its entry.
    bool fixed() const;
    double plusMinus() const;
    std::optional<double> hysteresis() const;
    double low() const;
    double high() const;
    // Shows a band, any type with the members fixed, plusMinus, low, high and hysteresis.
    template <class Band>
    void setBand(const Band& band) {
        showValues(band.fixed, band.plusMinus, band.hysteresis, band.low, band.high);
    }
    // The entries into the band; its hysteresis only where there is an entry of it.
    template <class Band>
    void readInto(Band* band) const {
        band->fixed = fixed();
        band->plusMinus = plusMinus();
        if (hysteresis()) band->hysteresis = *hysteresis();
        band->low = low();
        band->high = high();
    }

    // The list or the box that chooses fixed limits.
    QWidget* chooser() const;
    // The entries in the order Tab moves through them.
    QList<QWidget*> focusOrder() const;

  signals:
    // Any entry changed, by the operator or by setBand().
    void changed();

  private:
    void showValues(bool fixed, double plusMinus, double hysteresis, double low, double high);
    void updateEnabled();

    QComboBox* mode_ = nullptr;
    QCheckBox* fixedBox_ = nullptr;
    QDoubleSpinBox* width_ = nullptr;
    QDoubleSpinBox* hysteresis_ = nullptr;
    QDoubleSpinBox* low_ = nullptr;
    QDoubleSpinBox* high_ = nullptr;
    QList<QWidget*> limits_;  // the limits and their captions
};

}  // namespace ui
