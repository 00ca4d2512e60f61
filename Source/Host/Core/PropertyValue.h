#pragma once

#include <Eigen/Core>

#include <charconv>
#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

// How typed values become the texts that Properties store, and back.
//
// Every value is kept as text so that a tree can be written and read without knowing the types, and so
// that a reader may ask for a different but compatible type (an integer read as a double). Each
// conversion round-trips exactly: doubles use the shortest text that reads back to the same bits,
// vectors and matrices are their elements separated by single spaces (matrices row by row).
//
// PropertyValue<T>::toText(value) gives the text; PropertyValue<T>::fromText(text, out) parses it and
// returns false, leaving `out` untouched, when the text is not a T. whatExpected() names the form for
// error messages. All functions are pure: thread-safe.
namespace Corvexis {

template <typename T>
struct PropertyValue;  // specialisations below; a type without one does not compile

namespace PropertyValueDetail {

// Leading and trailing spaces and tabs are tolerated around numbers (hand-edited files).
inline std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Splits at runs of spaces and tabs; no empty pieces.
inline std::vector<std::string_view> splitWords(std::string_view text)
{
    std::vector<std::string_view> words;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        const size_t start = pos;
        while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t')
            ++pos;
        if (pos > start)
            words.push_back(text.substr(start, pos - start));
    }
    return words;
}

template <typename T>
concept Integer = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>;

template <typename T>
bool parseNumber(std::string_view text, T& out)
{
    text = trimmed(text);
    if (text.empty())
        return false;
    // from_chars refuses a leading '+'; people write one, so allow it (but not "+-1").
    if (text.front() == '+' && text.size() > 1 && text[1] != '-')
        text.remove_prefix(1);
    T value{};
    const char* end = text.data() + text.size();
    std::from_chars_result result;
    if constexpr (std::floating_point<T>)
        result = std::from_chars(text.data(), end, value, std::chars_format::general);
    else
        result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end)
        return false;
    out = value;
    return true;
}

template <typename T>
std::string numberText(T value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, result.ptr);
}

}  // namespace PropertyValueDetail

template <>
struct PropertyValue<std::string>
{
    static std::string toText(const std::string& value) { return value; }
    static bool fromText(std::string_view text, std::string& out)
    {
        out.assign(text);
        return true;
    }
    static std::string whatExpected() { return "a text"; }
};

// "true"/"false"; "1"/"0" are read as well.
template <>
struct PropertyValue<bool>
{
    static std::string toText(bool value) { return value ? "true" : "false"; }
    static bool fromText(std::string_view text, bool& out)
    {
        text = PropertyValueDetail::trimmed(text);
        if (text == "true" || text == "1") {
            out = true;
            return true;
        }
        if (text == "false" || text == "0") {
            out = false;
            return true;
        }
        return false;
    }
    static std::string whatExpected() { return "true or false"; }
};

template <PropertyValueDetail::Integer T>
struct PropertyValue<T>
{
    static std::string toText(T value) { return PropertyValueDetail::numberText(value); }
    static bool fromText(std::string_view text, T& out)
    {
        return PropertyValueDetail::parseNumber(text, out);
    }
    static std::string whatExpected()
    {
        return std::is_signed_v<T> ? "an integer within range" : "a non-negative integer within range";
    }
};

template <std::floating_point T>
struct PropertyValue<T>
{
    static std::string toText(T value) { return PropertyValueDetail::numberText(value); }
    static bool fromText(std::string_view text, T& out)
    {
        return PropertyValueDetail::parseNumber(text, out);
    }
    static std::string whatExpected() { return "a number"; }
};

// Enumerations travel as their underlying integer.
template <typename T>
requires std::is_enum_v<T>
struct PropertyValue<T>
{
    using Underlying = std::underlying_type_t<T>;
    static std::string toText(T value)
    {
        return PropertyValue<Underlying>::toText(static_cast<Underlying>(value));
    }
    static bool fromText(std::string_view text, T& out)
    {
        Underlying raw{};
        if (!PropertyValue<Underlying>::fromText(text, raw))
            return false;
        out = static_cast<T>(raw);
        return true;
    }
    static std::string whatExpected() { return "an integer"; }
};

// Fixed-size matrices and vectors: exactly rows x cols numbers, row by row. Column vectors of dynamic size
// (Eigen::VectorXd) take any count, including none.
template <typename Scalar, int Rows, int Cols, int Options, int MaxRows, int MaxCols>
struct PropertyValue<Eigen::Matrix<Scalar, Rows, Cols, Options, MaxRows, MaxCols>>
{
    using Matrix = Eigen::Matrix<Scalar, Rows, Cols, Options, MaxRows, MaxCols>;
    static_assert(Cols != Eigen::Dynamic && (Rows != Eigen::Dynamic || Cols == 1),
                  "only fixed-size matrices and dynamic column vectors are supported");

    static std::string toText(const Matrix& value)
    {
        std::string text;
        for (Eigen::Index r = 0; r < value.rows(); ++r)
            for (Eigen::Index c = 0; c < value.cols(); ++c) {
                if (!text.empty())
                    text += ' ';
                text += PropertyValue<Scalar>::toText(value(r, c));
            }
        return text;
    }
    static bool fromText(std::string_view text, Matrix& out)
    {
        const auto words = PropertyValueDetail::splitWords(text);
        Matrix parsed;
        if constexpr (Rows == Eigen::Dynamic)
            parsed.resize(static_cast<Eigen::Index>(words.size()), 1);
        if (words.size() != static_cast<size_t>(parsed.size()))
            return false;
        size_t i = 0;
        for (Eigen::Index r = 0; r < parsed.rows(); ++r)
            for (Eigen::Index c = 0; c < parsed.cols(); ++c)
                if (!PropertyValue<Scalar>::fromText(words[i++], parsed(r, c)))
                    return false;
        out = std::move(parsed);
        return true;
    }
    static std::string whatExpected()
    {
        if constexpr (Rows == Eigen::Dynamic)
            return "numbers separated by spaces";
        else
            return std::to_string(Rows * Cols) + " numbers separated by spaces";
    }
};

// Lists of numbers or booleans: the elements separated by single spaces.
template <typename T>
struct PropertyValue<std::vector<T>>
{
    static std::string toText(const std::vector<T>& value)
    {
        std::string text;
        for (size_t i = 0; i < value.size(); ++i) {  // by index: std::vector<bool> has no element references
            if (i > 0)
                text += ' ';
            text += PropertyValue<T>::toText(value[i]);
        }
        return text;
    }
    static bool fromText(std::string_view text, std::vector<T>& out)
    {
        std::vector<T> parsed;
        for (std::string_view word : PropertyValueDetail::splitWords(text)) {
            T element{};
            if (!PropertyValue<T>::fromText(word, element))
                return false;
            parsed.push_back(std::move(element));
        }
        out = std::move(parsed);
        return true;
    }
    static std::string whatExpected() { return "values separated by spaces"; }
};

// Lists of texts: every element in double quotes, separated by single spaces, with '\\' and '"' escaped
// by a backslash, so that any element (empty, with spaces or quotes) survives.
template <>
struct PropertyValue<std::vector<std::string>>
{
    static std::string toText(const std::vector<std::string>& value)
    {
        std::string text;
        for (const std::string& element : value) {
            if (!text.empty())
                text += ' ';
            text += '"';
            for (char c : element) {
                if (c == '"' || c == '\\')
                    text += '\\';
                text += c;
            }
            text += '"';
        }
        return text;
    }
    static bool fromText(std::string_view text, std::vector<std::string>& out)
    {
        std::vector<std::string> parsed;
        size_t pos = 0;
        while (true) {
            while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
                ++pos;
            if (pos == text.size())
                break;
            if (text[pos] != '"')
                return false;
            ++pos;
            std::string element;
            bool closed = false;
            while (pos < text.size()) {
                const char c = text[pos++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (pos == text.size())
                        return false;
                    element += text[pos++];
                } else {
                    element += c;
                }
            }
            if (!closed)
                return false;
            parsed.push_back(std::move(element));
        }
        out = std::move(parsed);
        return true;
    }
    static std::string whatExpected() { return "quoted texts separated by spaces"; }
};

// An empty text is "no value"; anything else must be a T. (For std::optional<std::string> an empty
// text therefore reads back as no value, not as an empty text.)
template <typename T>
struct PropertyValue<std::optional<T>>
{
    static std::string toText(const std::optional<T>& value)
    {
        return value ? PropertyValue<T>::toText(*value) : std::string();
    }
    static bool fromText(std::string_view text, std::optional<T>& out)
    {
        if (text.empty()) {
            out.reset();
            return true;
        }
        T parsed{};
        if (!PropertyValue<T>::fromText(text, parsed))
            return false;
        out = std::move(parsed);
        return true;
    }
    static std::string whatExpected() { return PropertyValue<T>::whatExpected() + " or an empty text"; }
};

}  // namespace Corvexis
