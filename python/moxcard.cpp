// SPDX-License-Identifier: GPL-3.0-or-later
// The moxcard Python module: the card through moxctl's card layer and the
// driver module, as moxpanel and moxctl reach it. The interpreter is
// released around every call that reaches the driver.
#include "rules.h"
#include "session.h"
#include "text.h"
#include "units.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <memory>
#include <thread>

namespace py = pybind11;

namespace moxcard {

namespace {

using Clock = std::chrono::steady_clock;

double UnixSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

py::array ToArray(const Values& v) {
    if (v.whole) {
        py::array_t<std::int32_t> out(static_cast<py::ssize_t>(v.values.size()));
        auto w = out.mutable_unchecked<1>();
        for (std::size_t k = 0; k < v.values.size(); ++k)
            w(static_cast<py::ssize_t>(k)) = static_cast<std::int32_t>(v.values[k]);
        return out;
    }
    py::array_t<double> out(static_cast<py::ssize_t>(v.values.size()));
    auto w = out.mutable_unchecked<1>();
    for (std::size_t k = 0; k < v.values.size(); ++k) w(static_cast<py::ssize_t>(k)) = v.values[k];
    return out;
}

// A reading as the mode asks: the units come from the volts read.
py::array ToArray(Values v, Mode mode, const mox::setup::Setup* setup) {
    if (mode == Mode::Units && setup != nullptr) v.values = InUnits(*setup, v.values);
    return ToArray(v);
}

Inputs FromArray(const py::array_t<double, py::array::c_style | py::array::forcecast>& values) {
    if (values.ndim() != 1 || values.shape(0) != static_cast<py::ssize_t>(vcard::kChannels))
        throw BadArgument("values: an array of the 32 inputs is wanted");
    Inputs out{};
    const auto r = values.unchecked<1>();
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = r(static_cast<py::ssize_t>(k));
    return out;
}

// A card object's state shared with its streams.
using SessionPtr = std::shared_ptr<Session>;

// Readings at a fixed interval. A reading that fails or is no newer than
// the last is left out and tried again shortly; after a gap the schedule
// goes on from the reading that ends it, never making up the rows missed.
class Stream {
public:
    Stream(SessionPtr session, Mode mode, int mean, double interval, std::optional<long long> count)
        : session_(std::move(session)), mode_(mode), mean_(mean),
          schedule_(Clock::now(), std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval))),
          left_(count) {}

    py::tuple Next() {
        if (left_ && *left_ <= 0) throw py::stop_iteration();
        for (auto due = schedule_.Due();; due = Clock::now() + std::chrono::milliseconds(20)) {
            SleepUntil(due);
            std::optional<Values> got;
            {
                const py::gil_scoped_release release;
                got = session_->ReadFresh(mode_ == Mode::Codes, mean_);
            }
            if (!got) continue;
            seq_ = schedule_.Taken(Clock::now());
            if (left_) --*left_;
            return py::make_tuple(UnixSeconds(), ToArray(*got, mode_, session_->Setup()));
        }
    }

private:
    // In short steps, so that Ctrl-C is seen while waiting.
    static void SleepUntil(Clock::time_point when) {
        while (Clock::now() < when) {
            {
                const py::gil_scoped_release release;
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(when - Clock::now(), std::chrono::milliseconds(50)));
            }
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
    }

public:
    // The number of the last row's due time (0 for the first due time), as
    // moxctl log's seq column: rows left out leave their numbers out.
    std::optional<long long> Seq() const { return seq_; }

private:
    SessionPtr session_;
    std::optional<long long> seq_;
    Mode mode_;
    int mean_;
    moxctl::RowSchedule schedule_;
    std::optional<long long> left_;
};

// Runs `f` on the session with the interpreter released.
template <typename F>
auto Released(const SessionPtr& session, F f) {
    const py::gil_scoped_release release;
    return f(*session);
}

// A setup file is read whole before the card is touched.
SessionPtr Open(const std::optional<std::string>& setupPath) {
    const py::gil_scoped_release release;
    std::optional<mox::setup::Setup> setup;
    if (setupPath) setup = LoadSetup(*setupPath);
    return std::make_shared<Session>(std::move(setup));
}

py::dict Metrics(const moxctl::Check& c) {
    py::dict metrics;
    for (const auto& [name, value] : c.metrics) metrics[py::str(name)] = value;
    return metrics;
}

// The fields moxctl selftest --json writes, read back: one writer of them.
py::object ReportDict(const moxctl::Report& r) {
    return py::module_::import("json").attr("loads")(moxctl::ReportJson(r));
}

// Which card, as moxctl names it: only a driver built here sends to
// MOX_CARD_ADDRESS, another one ignores it.
std::string CardRepr(const Session& s) {
    return "<moxcard.Card " + mox::IdentityText(s.Identity()) + ", " + moxctl::CardName() +
           (s.Closed() ? ", closed>" : ">");
}

// A message as Python text: bytes that are not UTF-8 (a library's folder
// named in a legacy encoding) are kept as escapes instead of losing the
// whole message.
void SetError(PyObject* type, const char* what) {
    const std::string_view text(what);
    PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
    if (message == nullptr) {
        PyErr_SetString(type, "(the message could not be decoded)");
        return;
    }
    PyErr_SetObject(type, message);
    Py_DECREF(message);
}

void RegisterErrors(py::module_& m) {
    static const py::exception<DriverFailure> driverError(m, "DriverError");
    static const py::exception<CardFailure> cardError(m, "CardError");
    static const py::exception<SetupFailure> setupError(m, "SetupError", PyExc_ValueError);
    // NOLINTNEXTLINE(performance-unnecessary-value-param): the translator type pybind11 takes
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const DriverFailure& e) {
            SetError(driverError.ptr(), e.what());
        } catch (const CardFailure& e) {
            SetError(cardError.ptr(), e.what());
        } catch (const SetupFailure& e) {
            SetError(setupError.ptr(), e.what());
        } catch (const std::invalid_argument& e) {
            SetError(PyExc_ValueError, e.what());
        }
    });
}

} // namespace

} // namespace moxcard

namespace {

using moxcard::Session;
using moxcard::SessionPtr;

void BindValues(py::module_& m) {
    py::class_<mox::CardIdentity>(m, "Identity", "Who the card says it is (its reply to the identity request).")
        .def_readonly("number", &mox::CardIdentity::number, "Card number, 7710 for a MOX card.")
        .def_readonly("type", &mox::CardIdentity::type, "Card type.")
        .def_readonly("speed_k", &mox::CardIdentity::speedK, "Sampling speed in thousands of samples a second.")
        .def_readonly("resolution_bits", &mox::CardIdentity::resolution, "AD resolution in bits.")
        .def("__str__", &mox::IdentityText)
        .def("__repr__",
             [](const mox::CardIdentity& id) { return "<moxcard.Identity " + mox::IdentityText(id) + ">"; });
    py::class_<moxcard::Link>(m, "Link", "The card's network link as the card reports it.")
        .def_readonly("pc_address", &moxcard::Link::pcAddress, "The PC's address as the card sees it.")
        .def_readonly("expected_pc_address", &moxcard::Link::expectedPcAddress,
                      "The address the card expects the PC to have.")
        .def_readonly("down_seconds", &moxcard::Link::downSeconds, "Seconds the card has been without contact.")
        .def_readonly("up", &moxcard::Link::up,
                      "Whether the link counts as up (down for fewer seconds than the limit).")
        .def_property_readonly(
            "state", [](const moxcard::Link& l) { return l.up ? "up" : "down"; }, "\"up\" or \"down\".")
        .def_readonly("round_trip", &moxcard::Link::roundTrip,
                      "Seconds the status request took through the driver: the network round trip for a card on "
                      "the network.")
        .def("__repr__", [](const moxcard::Link& l) {
            return "<moxcard.Link " + std::string(l.up ? "up" : "down") + ", PC address " + l.pcAddress + ", down " +
                   std::to_string(l.downSeconds) + " s>";
        });
}

void BindSelfTest(py::module_& m) {
    py::class_<moxctl::Check>(m, "Check", "One check of the self-test and what it found wrong.")
        .def_readonly("name", &moxctl::Check::name)
        .def_readonly("passed", &moxctl::Check::passed)
        .def_readonly("detail", &moxctl::Check::detail)
        .def_readonly("faults", &moxctl::Check::faults, "What is wrong, one sentence each.")
        .def_readonly("seconds", &moxctl::Check::seconds)
        .def_property_readonly("metrics", &moxcard::Metrics, "Figures measured, by name.")
        .def("__repr__",
             [](const moxctl::Check& c) { return "<moxcard.Check " + c.name + (c.passed ? " passed>" : " FAILED>"); });
    py::class_<moxctl::Report>(m, "SelfTestResult", "The loopback self-test's checks, as moxctl selftest reports them.")
        .def_property_readonly("passed", &moxctl::Report::Passed, "Whether every check passed.")
        .def_readonly("checks", &moxctl::Report::checks, "The checks in the order they ran.")
        .def_readonly("started", &moxctl::Report::started, "When the test started (UTC).")
        .def("to_dict", &moxcard::ReportDict, "The result as a dict (the fields of moxctl selftest --json).")
        .def("to_json", &moxctl::ReportJson, "The result as moxctl selftest --json writes it.")
        .def("to_junit", &moxctl::ReportJUnit, "The result as JUnit XML, as moxctl selftest --junit writes it.")
        .def("__str__", &moxctl::ReportTable)
        .def("__bool__", &moxctl::Report::Passed)
        .def("__repr__", [](const moxctl::Report& r) {
            return std::string("<moxcard.SelfTestResult ") + (r.Passed() ? "passed" : "FAILED") + ", " +
                   std::to_string(r.checks.size()) + " checks>";
        });
}

py::dict LimitsDict(const mox::setup::Channel& c) {
    py::dict d;
    const auto put = [&d](const char* name, const std::optional<double>& v) {
        if (v) d[name] = *v;
    };
    put("alarm_low", c.limits.alarmLow);
    put("warn_low", c.limits.warnLow);
    put("warn_high", c.limits.warnHigh);
    put("alarm_high", c.limits.alarmHigh);
    if (!d.empty()) d["hysteresis"] = c.limits.hysteresis;
    return d;
}

py::list Columns(const mox::setup::Setup& setup) {
    py::list names;
    for (int k = 0; k < vcard::kChannels; ++k) names.append(setup.ColumnName(k));
    return names;
}

void BindSetup(py::module_& m) {
    using mox::setup::Channel;
    using mox::setup::Setup;
    py::class_<Channel>(m, "Channel", "One channel of a setup file: its name, unit and limits.")
        .def_readonly("name", &Channel::name, "The name the file gives, else \"AI00\" / \"AO0\".")
        .def_readonly("unit", &Channel::unit, "The unit the file gives, else \"V\".")
        .def_readonly("given", &Channel::given, "Whether the file names this channel at all.")
        .def_property_readonly(
            "calibrated", [](const Channel& c) { return c.calibration.has_value(); },
            "Whether a calibration is in force for this channel.")
        .def_property_readonly("limits", &LimitsDict,
                               "The levels the file gives, by name (alarm_low, warn_low, warn_high, alarm_high), "
                               "and their hysteresis; empty without levels.")
        .def("__repr__", [](const Channel& c) { return "<moxcard.Channel " + c.name + " [" + c.unit + "]>"; });
    py::class_<Setup>(m, "Setup", "A setup file as the card was opened with it.")
        .def_readonly("path", &Setup::path, "The file as it was named to moxcard.open().")
        .def_readonly("digest", &Setup::digest, "SHA-256 of the file's bytes, in hex.")
        .def_readonly("calibration_path", &Setup::calibrationPath, "The calibration file it references, if any.")
        .def_property_readonly(
            "inputs", [](const Setup& s) { return std::vector<Channel>(s.inputs.begin(), s.inputs.end()); },
            "The 32 inputs AI0..AI31.")
        .def_property_readonly(
            "outputs", [](const Setup& s) { return std::vector<Channel>(s.outputs.begin(), s.outputs.end()); },
            "The 4 outputs AO0..AO3.")
        .def_property_readonly("columns", &Columns,
                               "\"name[unit]\" of each input, as moxctl names the columns of a reading in units.")
        .def("__repr__", [](const Setup& s) { return "<moxcard.Setup " + s.path + ">"; });
}

void BindStream(py::module_& m) {
    py::class_<moxcard::Stream>(m, "Stream",
                                "Readings at a fixed interval as (time, array); time in seconds since the epoch "
                                "(UTC). A reading that could not be had is left out, never repeated.")
        .def("__iter__", [](moxcard::Stream& s) -> moxcard::Stream& { return s; })
        .def("__next__", &moxcard::Stream::Next)
        .def_property_readonly("seq", &moxcard::Stream::Seq,
                               "The number of the last row's due time (0 for the first), None before the first: "
                               "rows left out leave their numbers out, as in moxctl log's seq column.");
}

} // namespace

namespace {

void BindOutputs(py::class_<Session, SessionPtr>& c) {
    c.def(
         "da",
         [](const SessionPtr& s, long long channel, std::optional<double> volts, std::optional<long long> code,
            std::optional<double> value, const std::string& range) {
             const auto ch = moxcard::DaChannel(channel);
             const auto daCode = moxcard::DaCodeFor(s->Setup(), ch, volts, code, value, range);
             moxcard::Released(s, [&](Session& x) { x.SetDa(ch, daCode); });
             return daCode;
         },
         py::arg("channel"), py::kw_only(), py::arg("volts") = py::none(), py::arg("code") = py::none(),
         py::arg("value") = py::none(), py::arg("range") = "bipolar",
         "Set analog output `channel` (0..3) from volts (bipolar -5..5, unipolar 0..10), a DA code (0..0xFFF), "
         "or a value in the output's unit through its scaling and calibration (with a setup). Returns the code "
         "sent. ValueError for a value out of range or, with a setup, beyond the output's alarm levels (nothing "
         "is sent); CardError when the card refuses or does not confirm.")
        .def(
            "do",
            [](const SessionPtr& s, long long group, long long byte) {
                const auto g = moxcard::DoGroup(group);
                const auto b = moxcard::DoByte(byte);
                moxcard::Released(s, [&](Session& x) { x.SetDo(g, b); });
            },
            py::arg("group"), py::arg("byte"), "Set the eight digital outputs of `group` (0 or 1) to `byte` (0..0xFF).")
        .def(
            "dobit",
            [](const SessionPtr& s, long long bit, long long value) {
                const auto b = moxcard::DoBitIndex(bit);
                const auto v = moxcard::DoBitValue(value);
                moxcard::Released(s, [&](Session& x) { x.SetDoBit(b, v); });
            },
            py::arg("bit"), py::arg("value"),
            "Set digital output `bit` (1..16, as the digital I/O window numbers them) to `value` (0 or 1).")
        .def(
            "di",
            [](const SessionPtr& s) {
                const auto groups = moxcard::Released(s, [](Session& x) { return x.ReadDi(); });
                return py::make_tuple(groups[0], groups[1]);
            },
            "Both digital input groups as (group0, group1), each a byte 0..0xFF.");
}

void BindReadings(py::class_<Session, SessionPtr>& c) {
    c.def(
         "read",
         [](const SessionPtr& s, const std::string& mode, long long mean) {
             const auto m = moxcard::ReadMode(mode, s->Setup());
             const int n = moxcard::Mean(mean);
             const auto v = moxcard::Released(s, [&](Session& x) { return x.Read(m == moxcard::Mode::Codes, n); });
             return moxcard::ToArray(v, m, s->Setup());
         },
         py::arg("mode") = "volts", py::arg("mean") = 0,
         "The 32 inputs: float64 volts (mode=\"volts\"), codes 0..65535 (mode=\"codes\": int32 for the newest "
         "sample, float64 for a mean, which keeps its fraction), or float64 in "
         "each input's unit through its calibration and scaling (mode=\"units\", with a setup); the newest "
         "sample, or the mean of `mean` samples. Starts acquisition at the first reading. CardError when the card "
         "gives no reading for 2 s.")
        .def(
            "stream",
            [](const SessionPtr& s, double interval, std::optional<long long> count, const std::string& mode,
               long long mean) {
                if (count && *count < 0) throw moxcard::BadArgument("count: must be 0 or more, or None");
                return moxcard::Stream(s, moxcard::ReadMode(mode, s->Setup()), moxcard::Mean(mean),
                                       moxcard::Interval(interval), count);
            },
            py::arg("interval") = 0.2, py::arg("count") = py::none(), py::arg("mode") = "volts", py::arg("mean") = 0,
            "An iterator of (time, array) every `interval` seconds (0.01..3600), `count` of them or until the "
            "loop ends; `mode` as for read(). While the card gives no reading none is yielded: an outage leaves a "
            "gap in the times, and rows missed are not made up afterwards.")
        .def(
            "to_units",
            [](const SessionPtr& s, const py::array_t<double, py::array::c_style | py::array::forcecast>& volts) {
                const auto* setup = s->Setup();
                if (setup == nullptr) throw moxcard::BadArgument("to_units needs a setup file");
                moxcard::Values v;
                v.values = moxcard::InUnits(*setup, moxcard::FromArray(volts));
                return moxcard::ToArray(v);
            },
            py::arg("volts"),
            "The 32 inputs in their units from 32 volts read (read() or stream()): the same reading in both, "
            "as moxctl's log writes them side by side.")
        .def(
            "beyond_limits",
            [](const SessionPtr& s, const py::array_t<double, py::array::c_style | py::array::forcecast>& values) {
                const auto* setup = s->Setup();
                if (setup == nullptr) throw moxcard::BadArgument("beyond_limits needs a setup file with limits");
                return moxcard::LevelsPassed(*setup, moxcard::FromArray(values));
            },
            py::arg("values"),
            "The inputs a reading in units (read(mode=\"units\")) is beyond a level of the setup, as "
            "[(name, level)], level \"warn_low\", \"warn_high\", \"alarm_low\" or \"alarm_high\" (the alarm when both "
            "are passed); each reading judged on its own, as moxctl's beyond_limits column.");
}

void BindCard(py::module_& m) {
    py::class_<Session, SessionPtr> c(m, "Card", "A MOX card opened with moxcard.open(); usable from several threads.");
    c.def_property_readonly("identity", &Session::Identity, "The card's identity, asked when it was opened.")
        .def_property_readonly(
            "setup", [](const SessionPtr& s) { return s->Setup(); }, py::return_value_policy::reference_internal,
            "The setup file the card was opened with (moxcard.open(setup=...)), or None.")
        .def_property_readonly(
            "link", [](const SessionPtr& s) { return moxcard::Released(s, [](Session& x) { return x.AskLink(); }); },
            "The network link as the card reports it now (asked at each access).")
        .def(
            "selftest",
            [](const SessionPtr& s, double tolerance, double noise, double settle) {
                moxctl::SelfTestOptions o;
                o.toleranceVolts = moxcard::NumberIn(tolerance, 0.001, 5, "tolerance (volts)");
                o.noiseLimitVolts = moxcard::NumberIn(noise, 0.0001, 5, "noise (volts)");
                o.settle = std::chrono::milliseconds(
                    std::llround(moxcard::NumberIn(settle, 0.001, 10, "settle (seconds)") * 1000));
                return moxcard::Released(s, [&](Session& x) { return x.SelfTest(o); });
            },
            py::kw_only(), py::arg("tolerance") = 0.05, py::arg("noise") = 0.05, py::arg("settle") = 0.1,
            "The loopback self-test of moxctl selftest (DA0..3 wired to inputs 0..3, DO group n to DI group n).")
        .def(
            "close", [](const SessionPtr& s) { moxcard::Released(s, [](Session& x) { x.Close(); }); },
            "Stop acquisition if this card object started it; the outputs are left as they are.")
        .def("__enter__", [](const SessionPtr& s) { return s; })
        .def("__exit__",
             [](const SessionPtr& s, const py::args&) {
                 moxcard::Released(s, [](Session& x) { x.Close(); });
                 return false;
             })
        .def("__repr__", [](const Session& s) { return moxcard::CardRepr(s); });
    BindReadings(c);
    BindOutputs(c);
}

} // namespace

// NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init): pybind11's module macro
PYBIND11_MODULE(moxcard, m) {
    m.doc() = "A MOX data-acquisition card from Python, through the same card driver library as moxpanel and moxctl.";
    moxcard::ThrowOnDriverFailure();
    moxcard::RegisterErrors(m);
    BindValues(m);
    BindSelfTest(m);
    BindSetup(m);
    BindStream(m);
    BindCard(m);
    m.def("open", &moxcard::Open, py::arg("setup") = py::none(),
          "Open the card through libadcard.so (LD_LIBRARY_PATH and MOX_CARD_ADDRESS apply). `setup`: a setup file "
          "(names, units, calibration, limits), read whole before the card is touched; SetupError (a ValueError) "
          "names the file, line and field it refuses.");
}
