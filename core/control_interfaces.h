// The few things the console needs of its controls, so the console logic runs without a toolkit.
// The member names are the toolkit's own, so a toolkit control implements them directly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// A vertical slider with Position 0 at the top.
class Slider
{
public:
    virtual int Position() const = 0;
    virtual int Max() const = 0;
    // Moves the slider; when the value differs it runs the slider's change handler before
    // returning, and when it is equal nothing happens at all.
    virtual void SetPosition(int value) = 0;

protected:
    ~Slider() = default;
};

// A caption that shows text.
class Panel
{
public:
    virtual void SetText(std::string_view text) = 0;

protected:
    ~Panel() = default;
};

// A push or latching button. A latching one is already flipped when its click handler runs.
class Button
{
public:
    virtual bool Down() const = 0;
    virtual std::string GetText() const = 0;
    virtual void SetText(std::string_view text) = 0;

protected:
    ~Button() = default;
};

// A periodic timer whose handler runs on the one user-interface thread.
class Timer
{
public:
    virtual bool Enabled() const = 0;
    virtual int Interval() const = 0; // milliseconds

protected:
    ~Timer() = default;
};

// The output library's entry: command, length, buffer; a negative result means failure.
using DasCallFn = int32_t (*)(int32_t command, int32_t length, uint8_t *buffer);

} // namespace core
