// SPDX-License-Identifier: GPL-3.0-or-later
// Random texts typed into every text box of every window, each followed by
// a press of every output button: nothing may crash or hang, and every value
// that reaches the driver must lie in the range the windows allow.
//
// The seed is printed; MOX_RANDOM_SEED=<n> replays a run, MOX_RANDOM_TEXTS=<n>
// sets how many texts each box gets (10000 by default).
#include "FrmMultiBuf.h"
#include "fake_driver_client.h"
#include "frmDA.h"
#include "frmSW.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::uint64_t Seed() {
    if (const char* s = std::getenv("MOX_RANDOM_SEED")) return std::strtoull(s, nullptr, 10);
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

int TextsPerBox() {
    if (const char* s = std::getenv("MOX_RANDOM_TEXTS"))
        return std::max(1, static_cast<int>(std::strtol(s, nullptr, 10)));
    return 10000;
}

class TextSource {
public:
    explicit TextSource(std::uint64_t seed) : rng_(seed) {}

    QString Next() {
        QString text;
        const int pieces = Pick(0, 4);
        for (int i = 0; i < pieces; ++i) text += Piece();
        return text;
    }

private:
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    QString Digits(int n, const char* alphabet) {
        const int size = static_cast<int>(std::strlen(alphabet));
        QString out;
        for (int i = 0; i < n; ++i) out += QLatin1Char(alphabet[Pick(0, size - 1)]);
        return out;
    }

    QString Piece() {
        static const char* const kSigns[] = {"", "-", "+", "--", "+-"};
        static const char* const kExponents[] = {"e999", "E-999", "e308", "e-308", "e", "E+", "e38", "e39", "e5"};
        static const QString kChinese[] = {QStringLiteral("通道"), QStringLiteral("１２"), QStringLiteral("电压"),
                                           QStringLiteral("，"), QStringLiteral("。")};
        switch (Pick(0, 11)) {
        case 0:
            return Digits(Pick(1, 6), "0123456789");
        case 1:
            return Digits(Pick(20, 400), "0123456789");
        case 2:
            return QLatin1String(kSigns[Pick(0, 4)]) + Digits(Pick(0, 5), "0123456789") + "." +
                   Digits(Pick(0, 5), "0123456789");
        case 3:
            return QStringLiteral("&H") + Digits(Pick(0, 20), "0123456789abcdefABCDEF");
        case 4:
            return Digits(Pick(1, 12), "0123456789ABCDEFabcdef");
        case 5:
            return Digits(Pick(1, 3), "0123456789") + QLatin1String(kExponents[Pick(0, 8)]);
        case 6:
            return Digits(Pick(1, 4), " \t\n");
        case 7:
            return kChinese[Pick(0, 4)];
        case 8: {
            QString c;
            c += QChar(static_cast<char16_t>(Pick(1, 31)));
            if (Pick(0, 1)) c += QChar(0x7F);
            return c;
        }
        case 9:
            return QLatin1String(kSigns[Pick(0, 4)]);
        case 10:
            return Digits(Pick(1, 8), "!@#$%^*()_=[]{};:'\",<>/?\\|`~xyzXYZ&hH");
        default:
            return QString::number(std::uniform_real_distribution<double>(-1e6, 1e6)(rng_), 'g', Pick(1, 17));
        }
    }

    std::mt19937_64 rng_;
};

struct Call {
    std::string name;
    std::vector<double> args;
};

Call Parse(const std::string& line) {
    Call call;
    const auto open = line.find('(');
    call.name = line.substr(0, open);
    std::string inner = line.substr(open + 1, line.size() - open - 2);
    if (call.name == "IOCtl") return call;
    std::stringstream in(inner);
    for (std::string field; std::getline(in, field, ',');) call.args.push_back(std::strtod(field.c_str(), nullptr));
    return call;
}

// Every call the windows made since the last check lies within what they allow.
void CheckCalls(const QString& lastText) {
    const auto calls = FakeDriver::Get().Calls();
    FakeDriver::Get().ClearLog();
    for (const auto& line : calls) {
        const Call c = Parse(line);
        const std::string where = line + " after the text \"" + lastText.toStdString() + "\"";
        if (c.name == "Mox_DA") {
            ASSERT_EQ(c.args.size(), 2u) << where;
            ASSERT_GE(c.args[0], 0) << where;
            ASSERT_LE(c.args[0], 3) << where;
            ASSERT_LE(c.args[1], 4095) << where;
            ASSERT_GE(c.args[1], -32768) << where;
        } else if (c.name == "Mox_DO") {
            ASSERT_EQ(c.args.size(), 2u) << where;
            ASSERT_LE(c.args[0], 1) << where;
            ASSERT_GE(c.args[1], 0) << where;
            ASSERT_LE(c.args[1], 255) << where;
        } else if (c.name == "Mox_DOBit") {
            ASSERT_EQ(c.args.size(), 2u) << where;
            ASSERT_GE(c.args[0], 0) << where;
            ASSERT_TRUE(c.args[1] == 0 || c.args[1] == 1) << where;
        } else if (c.name == "ADResult_DV") {
            ASSERT_EQ(c.args.size(), 5u) << where;
            ASSERT_TRUE(std::isfinite(c.args[4])) << where;
        } else {
            ASSERT_TRUE(c.name == "IOCtl" || c.name == "Mox_DI" || c.name == "StopIntr" || c.name == "StartIntr")
                << where;
        }
    }
}

class RandomInput : public ::testing::Test {
protected:
    void SetUp() override {
        seed_ = Seed();
        std::printf("random input seed: %llu (replay with MOX_RANDOM_SEED=%llu)\n",
                    static_cast<unsigned long long>(seed_), static_cast<unsigned long long>(seed_));
        RecordProperty("seed", std::to_string(seed_));
        FakeDriver::Get().Reset();
    }

    // Types texts into each box in turn and presses every button after each.
    void Drive(QWidget* window, const std::vector<const char*>& boxes, const std::vector<const char*>& buttons,
               const std::function<void()>& after = {}) {
        TextSource texts(seed_);
        const int count = TextsPerBox();
        FakeDriver::Get().ClearLog(); // the windows' start-up calls
        int checked = 0;
        for (int i = 0; i < count; ++i) {
            for (const char* name : boxes) {
                auto* box = window->findChild<QLineEdit*>(name);
                ASSERT_NE(box, nullptr) << name;
                const QString text = texts.Next();
                box->setText(text);
                for (const char* b : buttons) window->findChild<QPushButton*>(b)->click();
                if (after) after();
                CheckCalls(text);
                if (HasFatalFailure()) return;
                ++checked;
            }
        }
        EXPECT_EQ(checked, count * static_cast<int>(boxes.size()));
    }

    std::uint64_t seed_ = 0;
};

} // namespace

TEST_F(RandomInput, AnalogOutputWindow) {
    frmDA window;
    Drive(&window, {"txtDAChn", "txtDAValue", "txtDAChn2", "txtDAV"}, {"cmdDA", "cmdDA2"}, [&] {
        // Alternate the output range.
        auto* bipolar = window.findChild<QRadioButton*>("OptionDA(0)");
        auto* unipolar = window.findChild<QRadioButton*>("OptionDA(1)");
        (bipolar->isChecked() ? unipolar : bipolar)->setChecked(true);
    });
}

TEST_F(RandomInput, DigitalIOWindow) {
    frmSW window;
    window.findChild<QTimer*>("Timer_DI")->stop();
    Drive(&window, {"txtswChn", "txtSWO_0", "txtDOValue", "txtDOChn"}, {"cmdSWO", "cmdDOOutput"},
          [&] { window.Timer_DI_Timer(); });
}

TEST_F(RandomInput, AcquisitionWindow) {
    FrmMultiBuf window;
    window.findChild<QPushButton*>("cmdStart")->click();
    window.findChild<QTimer*>("TimerAD")->stop();
    int mode = 0;
    Drive(&window, {"txtMeanNum"}, {}, [&] {
        window.findChild<QRadioButton*>(QStringLiteral("optADRMode(%1)").arg(mode++ % 3))->setChecked(true);
        window.TimerAD_Timer();
    });
}
