#include "Host/Core/PropertiesIO.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

namespace Corvexis::PropertiesIO {

namespace {

// ---- writing ----

bool isWordChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '+' || c == '-' || c == '/' || c == ':' || c == '@' || c == '*';
}

void appendToken(std::string& out, std::string_view text)
{
    bool bare = !text.empty();
    for (unsigned char c : text)
        bare = bare && isWordChar(c);
    if (bare) {
        out += text;
        return;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xf];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

void appendAttributes(std::string& out, const Properties::Attributes& attributes)
{
    if (attributes.empty())
        return;
    out += " [";
    for (size_t i = 0; i < attributes.size(); ++i) {
        if (i > 0)
            out += ", ";
        appendToken(out, attributes[i].first);
        out += " = ";
        appendToken(out, attributes[i].second);
    }
    out += ']';
}

void appendBlock(std::string& out, const Properties& block, size_t depth)
{
    const std::string indent(4 * depth, ' ');
    out += indent;
    appendToken(out, block.name());
    appendAttributes(out, block.attributes());
    out += " {\n";
    for (const std::string& key : block.paramNames()) {
        out += indent;
        out += "    ";
        appendToken(out, key);
        out += " = ";
        appendToken(out, *block.paramText(key));
        appendAttributes(out, block.paramAttributes(key));
        out += '\n';
    }
    for (const Properties* child : block.subProperties())
        appendBlock(out, *child, depth + 1);
    out += indent;
    out += "}\n";
}

// ---- reading ----

struct Token
{
    enum class Kind
    {
        Text,  // a word or a quoted text
        Equals,
        Comma,
        OpenBrace,
        CloseBrace,
        OpenBracket,
        CloseBracket,
        End,
    };
    Kind kind = Kind::End;
    std::string text;
    int line = 1;
    int column = 1;
};

struct ParseError
{
    int line;
    int column;
    std::string what;
};

std::string describe(const Token& token)
{
    switch (token.kind) {
        case Token::Kind::Text: {
            std::string shown = token.text.size() > 40 ? token.text.substr(0, 40) + "..." : token.text;
            std::string quoted;
            appendToken(quoted, shown);
            return "'" + quoted + "'";
        }
        case Token::Kind::Equals:
            return "'='";
        case Token::Kind::Comma:
            return "','";
        case Token::Kind::OpenBrace:
            return "'{'";
        case Token::Kind::CloseBrace:
            return "'}'";
        case Token::Kind::OpenBracket:
            return "'['";
        case Token::Kind::CloseBracket:
            return "']'";
        case Token::Kind::End:
            return "the end of the text";
    }
    return "?";
}

class Lexer
{
public:
    explicit Lexer(std::string_view text) : text_(text)
    {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")  // a UTF-8 byte-order mark some editors add
            pos_ = 3;
    }

    // Returns false with `error` set on a lexical error.
    bool next(Token& token, ParseError& error)
    {
        skipSpaceAndComments();
        token.line = line_;
        token.column = column();
        token.text.clear();
        if (pos_ >= text_.size()) {
            token.kind = Token::Kind::End;
            return true;
        }
        const unsigned char c = static_cast<unsigned char>(text_[pos_]);
        switch (c) {
            case '=':
                return single(token, Token::Kind::Equals);
            case ',':
                return single(token, Token::Kind::Comma);
            case '{':
                return single(token, Token::Kind::OpenBrace);
            case '}':
                return single(token, Token::Kind::CloseBrace);
            case '[':
                return single(token, Token::Kind::OpenBracket);
            case ']':
                return single(token, Token::Kind::CloseBracket);
            case '"':
                return quoted(token, error);
            default:
                break;
        }
        if (c < 0x20 || c == 0x7f) {
            error = {line_, column(),
                     "unexpected control character " + hexByte(c) + " (quote texts that hold one)"};
            return false;
        }
        token.kind = Token::Kind::Text;
        const size_t start = pos_;
        while (pos_ < text_.size() && isBareChar(static_cast<unsigned char>(text_[pos_])))
            ++pos_;
        token.text.assign(text_.substr(start, pos_ - start));
        return true;
    }

private:
    static bool isBareChar(unsigned char c)
    {
        if (c <= 0x20 || c == 0x7f)
            return false;
        return std::strchr("{}[]=,\"#", c) == nullptr;
    }

    static std::string hexByte(unsigned char c)
    {
        char buffer[8];
        std::snprintf(buffer, sizeof(buffer), "0x%02X", c);
        return buffer;
    }

    int column() const { return static_cast<int>(pos_ - lineStart_) + 1; }

    void newLine()
    {
        ++line_;
        lineStart_ = pos_;
    }

    void skipSpaceAndComments()
    {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++pos_;
                newLine();
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n')
                    ++pos_;
            } else {
                break;
            }
        }
    }

    bool single(Token& token, Token::Kind kind)
    {
        token.kind = kind;
        ++pos_;
        return true;
    }

    static int hexValue(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    bool quoted(Token& token, ParseError& error)
    {
        token.kind = Token::Kind::Text;
        ++pos_;  // opening quote
        while (true) {
            if (pos_ >= text_.size() || text_[pos_] == '\n') {
                error = {token.line, token.column,
                         "quoted text is not closed before the end of the line (write line breaks as \\n)"};
                return false;
            }
            const char c = text_[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c != '\\') {
                token.text += c;
                ++pos_;
                continue;
            }
            const int escapeColumn = column();
            if (pos_ + 1 >= text_.size()) {
                error = {line_, escapeColumn, "incomplete escape at the end of the text"};
                return false;
            }
            const char e = text_[pos_ + 1];
            pos_ += 2;
            switch (e) {
                case '"':
                    token.text += '"';
                    break;
                case '\\':
                    token.text += '\\';
                    break;
                case 'n':
                    token.text += '\n';
                    break;
                case 'r':
                    token.text += '\r';
                    break;
                case 't':
                    token.text += '\t';
                    break;
                case 'x': {
                    const int high = pos_ < text_.size() ? hexValue(text_[pos_]) : -1;
                    const int low = pos_ + 1 < text_.size() ? hexValue(text_[pos_ + 1]) : -1;
                    if (high < 0 || low < 0) {
                        error = {line_, escapeColumn, "\\x must be followed by two hexadecimal digits"};
                        return false;
                    }
                    token.text += static_cast<char>(high * 16 + low);
                    pos_ += 2;
                    break;
                }
                default: {
                    std::string shown =
                        static_cast<unsigned char>(e) < 0x20 || static_cast<unsigned char>(e) >= 0x7f
                            ? hexByte(static_cast<unsigned char>(e))
                            : std::string(1, e);
                    error = {line_, escapeColumn,
                             "unknown escape \\" + shown + " (known: \\\\ \\\" \\n \\r \\t \\xHH)"};
                    return false;
                }
            }
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    int line_ = 1;
    size_t lineStart_ = 0;
};

// A non-recursive parser: an explicit stack of open blocks bounds the memory of deep input.
class Parser
{
public:
    Parser(std::string_view text, SourceLines* lines) : lexer_(text), lines_(lines) {}

    std::unique_ptr<Properties> parse(ParseError& error)
    {
        error_ = &error;
        auto root = std::make_unique<Properties>();
        if (!advance())
            return nullptr;
        if (token_.kind != Token::Kind::Text)
            return fail("expected the name of the top block, found " + describe(token_));
        root->setName(token_.text);
        if (lines_ != nullptr)
            lines_->blocks[root.get()] = token_.line;
        if (!advance() || !blockHead(*root))
            return nullptr;
        struct Open
        {
            Properties* block;
            int line;
        };
        std::vector<Open> stack;
        stack.push_back({root.get(), openLine_});
        while (!stack.empty()) {
            Open& open = stack.back();
            if (token_.kind == Token::Kind::CloseBrace) {
                stack.pop_back();
                if (!advance())
                    return nullptr;
                continue;
            }
            if (token_.kind == Token::Kind::End)
                return fail("the text ends inside block " + quoted(open.block->name()) + " opened on line " +
                            std::to_string(open.line) + "; a '}' is missing");
            if (token_.kind != Token::Kind::Text)
                return fail("expected a key, a block name or '}', found " + describe(token_));
            Token name = token_;
            if (!advance())
                return nullptr;
            if (!countItem())
                return nullptr;
            if (token_.kind == Token::Kind::Equals) {
                if (open.block->hasParam(name.text)) {
                    error = {
                        name.line, name.column,
                        "key " + quoted(name.text) + " appears twice in block " + quoted(open.block->name())};
                    return nullptr;
                }
                if (!advance())
                    return nullptr;
                if (token_.kind != Token::Kind::Text)
                    return fail("expected the value of " + quoted(name.text) + ", found " + describe(token_) +
                                " (write an empty value as \"\")");
                open.block->setParamText(name.text, std::move(token_.text));
                if (lines_ != nullptr)
                    lines_->keys[{open.block, name.text}] = name.line;
                if (!advance())
                    return nullptr;
                if (token_.kind == Token::Kind::OpenBracket) {
                    Properties::Attributes attributes;
                    if (!attributeList(attributes))
                        return nullptr;
                    for (const auto& [attr, value] : attributes)
                        open.block->setParamAttribute(name.text, attr, value);
                }
                continue;
            }
            if (token_.kind == Token::Kind::OpenBrace || token_.kind == Token::Kind::OpenBracket) {
                if (stack.size() >= static_cast<size_t>(kMaxDepth)) {
                    error = {name.line, name.column,
                             "blocks are nested deeper than " + std::to_string(kMaxDepth) + " levels"};
                    return nullptr;
                }
                Properties* child = open.block->addSubProperties(name.text);
                if (lines_ != nullptr)
                    lines_->blocks[child] = name.line;
                if (!blockHead(*child))
                    return nullptr;
                stack.push_back({child, openLine_});  // `open` is invalid from here on
                continue;
            }
            error = {name.line, name.column,
                     "expected '=' or '{' after " + describe(name) + ", found " + describe(token_)};
            return nullptr;
        }
        if (token_.kind != Token::Kind::End)
            return fail("unexpected " + describe(token_) + " after the end of the top block");
        return root;
    }

private:
    static std::string quoted(const std::string& text)
    {
        Token t;
        t.kind = Token::Kind::Text;
        t.text = text;
        return describe(t);
    }

    std::nullptr_t fail(std::string what)
    {
        *error_ = {token_.line, token_.column, std::move(what)};
        return nullptr;
    }

    bool advance()
    {
        if (lexer_.next(token_, *error_))
            return true;
        return false;
    }

    bool countItem()
    {
        if (++items_ <= kMaxItems)
            return true;
        fail("more than " + std::to_string(kMaxItems) + " items");
        return false;
    }

    // At an optional attribute list followed by '{'; consumes both. Records the line of the brace.
    bool blockHead(Properties& block)
    {
        if (token_.kind == Token::Kind::OpenBracket) {
            Properties::Attributes attributes;
            if (!attributeList(attributes))
                return false;
            for (const auto& [attr, value] : attributes)
                block.setAttribute(attr, value);
        }
        if (token_.kind != Token::Kind::OpenBrace) {
            fail("expected '{' to open block " + quoted(block.name()) + ", found " + describe(token_));
            return false;
        }
        openLine_ = token_.line;
        return advance();
    }

    // At '['; consumes up to and including ']'.
    bool attributeList(Properties::Attributes& attributes)
    {
        if (!advance())
            return false;
        if (token_.kind == Token::Kind::CloseBracket)
            return advance();
        while (true) {
            if (token_.kind != Token::Kind::Text) {
                fail("expected an attribute name, found " + describe(token_));
                return false;
            }
            const Token name = token_;
            for (const auto& [existing, value] : attributes)
                if (existing == name.text) {
                    *error_ = {name.line, name.column, "attribute " + quoted(name.text) + " appears twice"};
                    return false;
                }
            if (attributes.size() >= kMaxAttributesPerItem) {
                fail("more than " + std::to_string(kMaxAttributesPerItem) + " attributes on one item");
                return false;
            }
            if (!countItem() || !advance())
                return false;
            if (token_.kind != Token::Kind::Equals) {
                fail("expected '=' after attribute " + describe(name) + ", found " + describe(token_));
                return false;
            }
            if (!advance())
                return false;
            if (token_.kind != Token::Kind::Text) {
                fail("expected the value of attribute " + describe(name) + ", found " + describe(token_));
                return false;
            }
            attributes.emplace_back(name.text, std::move(token_.text));
            if (!advance())
                return false;
            if (token_.kind == Token::Kind::CloseBracket)
                return advance();
            if (token_.kind != Token::Kind::Comma) {
                fail("expected ',' or ']' in the attribute list, found " + describe(token_));
                return false;
            }
            if (!advance())
                return false;
        }
    }

    Lexer lexer_;
    SourceLines* lines_ = nullptr;
    Token token_;
    ParseError* error_ = nullptr;
    size_t items_ = 0;
    int openLine_ = 1;
};

}  // namespace

std::string saveToString(const Properties& properties)
{
    std::string out;
    appendBlock(out, properties, 0);
    return out;
}

int SourceLines::block(const Properties* block) const
{
    const auto it = blocks.find(block);
    return it == blocks.end() ? 0 : it->second;
}

int SourceLines::key(const Properties* block, const std::string& key) const
{
    const auto it = keys.find({block, key});
    return it == keys.end() ? 0 : it->second;
}

std::unique_ptr<Properties> loadFromString(std::string_view text, std::string* error, SourceLines* lines)
{
    ParseError parseError{1, 1, {}};
    std::unique_ptr<Properties> result;
    if (text.size() > kMaxTextBytes) {
        parseError.what = "the text is " + std::to_string(text.size()) + " bytes long; at most " +
                          std::to_string(kMaxTextBytes) + " are accepted";
    } else {
        result = Parser(text, lines).parse(parseError);
    }
    if (!result && error != nullptr)
        *error = "line " + std::to_string(parseError.line) + ", column " + std::to_string(parseError.column) +
                 ": " + parseError.what;
    return result;
}

bool saveToFile(const Properties& properties, const std::string& path, std::string* error)
{
    const std::string text = saveToString(properties);
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    auto failWith = [&](const std::string& what) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        if (error != nullptr)
            *error = path + ": " + what;
        return false;
    };
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file)
            return failWith(std::string("cannot create a temporary file: ") + std::strerror(errno));
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.flush();
        if (!file)
            return failWith("writing failed");
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec)
        return failWith("cannot replace the file: " + ec.message());
    return true;
}

std::unique_ptr<Properties> loadFromFile(const std::string& path, std::string* error, SourceLines* lines)
{
    auto failWith = [&](const std::string& what) -> std::unique_ptr<Properties> {
        if (error != nullptr)
            *error = path + ": " + what;
        return nullptr;
    };
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        return failWith(ec.message());
    if (size > kMaxTextBytes)
        return failWith("the file is " + std::to_string(size) + " bytes long; at most " +
                        std::to_string(kMaxTextBytes) + " are accepted");
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return failWith(std::string("cannot open: ") + std::strerror(errno));
    std::string text(static_cast<size_t>(size), '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.gcount() != static_cast<std::streamsize>(text.size()))
        return failWith("reading failed");
    std::string parseError;
    auto result = loadFromString(text, &parseError, lines);
    if (!result)
        return failWith(parseError);
    return result;
}

}  // namespace Corvexis::PropertiesIO
