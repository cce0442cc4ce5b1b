// Every 16-bit register pattern, read as a signed and as an unsigned value, through the texts the
// live panel, the configuration readback and the program readback show. Each text is defined
// (never empty where a label shows it) and numbers read back as the value they show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/numberrule.h"
#include "base/text.h"
#include "config/paramtable.h"
#include "instrument/statetexts.h"
#include "monitor/livetexts.h"
#include "program/programrules.h"

namespace {

// Both readings of every register pattern: the instrument's signed value and the raw word, that
// is every value from -32768 to 65535 once.
template <class F>
void forEveryPattern(F&& f) {
    for (int32_t v = -32768; v <= 0xffff; ++v)
        f(v);
}

bool showsNumber(const QString& text, double value) {
    bool ok = false;
    const double back = text.toDouble(&ok);
    return ok && std::fabs(back - value) <= std::fabs(value) * 1e-6 + 1e-9;
}

}  // namespace

TEST(Decoders, LivePanelTextsForEveryPattern) {
    int failures = 0;
    forEveryPattern([&](int32_t v) {
        if (failures > 5) return;
        const auto fail = [&](const char* what) {
            ADD_FAILURE() << what << " for " << v;
            ++failures;
        };
        comm::InstrumentImage img;
        img.InputRegsHigh.fill(v);
        img.LiveValues.fill(static_cast<float>(v));
        img.HoldingValues.fill(static_cast<float>(v));
        img.ParamValues.fill(static_cast<float>(v));
        img.HoldingRegs257.fill(v);
        img.DiscreteBits.fill(v);
        const monitor::LiveTexts t = monitor::liveTexts(img);

        // The two number texts the panel shows: the value, and the value in tenths.
        const QString plain = base::floatText(static_cast<float>(v));
        const QString tenths = base::floatText(static_cast<float>(v) / 10.0f);
        if (!showsNumber(plain, v) || !showsNumber(tenths, v / 10.0)) fail("number text");

        if (t.programStatus[0] != instrument::programStateText(v) || t.programStatus[0].isEmpty())
            fail("program state");
        const QString integer = base::intText(v);
        for (int k = 1; k < 9; ++k)
            if (t.programStatus[k] != integer) fail("program status");
        for (int k = 0; k < 6; ++k) {
            if (t.liveValues[k] != ((k == 4 || k == 5) ? tenths : plain)) fail("live value");
            if (t.states[k].text.isEmpty() || t.states[k].active != (v != 0)) fail("state");
            if (t.states[k].text != instrument::stateText(k, v != 0).text) fail("state word");
            if (t.alarmSettings[k] != integer) fail("alarm setting");
        }
        for (int a = 0; a < 2; ++a) {
            const QString type = t.liveValues[6 + a];
            if (type.isEmpty()) fail("alarm type");
            if ((v < 0 || v > 5) && type != plain) fail("unknown alarm type shown as its number");
            if (t.outputs[a] != plain) fail("set value");
        }
        for (int k = 0; k < 48; ++k) {
            if (monitor::hasParamField(k) != !t.params[k].isEmpty()) fail("parameter field");
            if (monitor::hasParamField(k) && t.params[k] != (k == 2 ? tenths : plain))
                fail("parameter value");
        }
    });
}

TEST(Decoders, ConfigurationReadbackForEveryPattern) {
    int failures = 0;
    // The readback depends on a row's kind and option list only: one row of each is walked.
    std::vector<const config::Param*> rows;
    for (const config::Param& p : config::parameterTable()) {
        const bool seen = std::any_of(rows.begin(), rows.end(), [&](const config::Param* r) {
            return r->kind == p.kind && r->options == p.options;
        });
        if (!seen) rows.push_back(&p);
    }
    for (const config::Param* row : rows) {
        const config::Param& p = *row;
        forEveryPattern([&](int32_t v) {
            if (failures > 5) return;
            const std::optional<QString> text = config::readbackText(p, static_cast<float>(v));
            bool good = true;
            switch (p.kind) {
                case config::Kind::List:
                    good = (v >= 0 && v < p.options->readback.size())
                               ? text && *text == p.options->readback.at(v)
                               : !text;  // an unknown code leaves the label as it is
                    break;
                case config::Kind::Number:
                    good = text && showsNumber(*text, v);
                    break;
                case config::Kind::Filter:
                    good = text && showsNumber(*text, v / 10.0);
                    break;
            }
            if (!good) {
                ADD_FAILURE() << "parameter " << p.k << " value " << v << " shows "
                              << (text ? text->toStdString() : "(nothing)");
                ++failures;
            }
        });
    }
}

TEST(Decoders, ProgramReadbackForEveryPattern) {
    int failures = 0;
    forEveryPattern([&](int32_t v) {
        if (failures > 5) return;
        // The decoded fields 0..5, and fields of the plain-number rule from the segments.
        for (int i : {0, 1, 2, 3, 4, 5, 8, 9, 38, 60}) {
            const QString text = program::readbackText(i, v);
            const bool decoded = i >= 0 && i <= 5;
            if (text.isEmpty() || (!decoded && text != base::intText(v))) {
                ADD_FAILURE() << "field " << i << " value " << v << " shows " << text.toStdString();
                ++failures;
            }
        }
        if (program::timeUnitCaption(v).has_value() != (v >= 0 && v <= 2)) {
            ADD_FAILURE() << "time unit caption for " << v;
            ++failures;
        }
    });
}

// What a box writes for the number it shows: every value a register holds goes out unchanged, the
// next value past either end is not sent.
TEST(Decoders, EntryValuesRoundTripEveryRegisterValue) {
    int failures = 0;
    for (int32_t v = -32769; v <= 65536 && failures < 5; ++v) {
        const QString text = base::intText(v);
        const bool fits = base::fitsRegister(v);
        const auto programValue = program::entryValue(text).value;
        const auto configValue = config::textValue(0, text).value;
        const auto filterValue = config::textValue(2, base::floatText(v / 10.0f)).value;
        const bool good = fits ? (programValue == v && configValue == v && filterValue == v)
                               : (!programValue && !configValue && !filterValue);
        if (!good) {
            ADD_FAILURE() << "value " << v;
            ++failures;
        }
    }
}
