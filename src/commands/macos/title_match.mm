// Title trimming, lower-casing and equality over the system's own text functions (Foundation), so
// that the macOS build needs no library beyond the system's.
#import <Foundation/Foundation.h>

#include <climits>
#include <cstddef>
#include <string>

#include "commands/title_match.h"
#include "records/utf8.h"

#if !__has_feature(objc_arc)
#error "Title matching relies on automatic reference counting: compile it with -fobjc-arc."
#endif

namespace tembra {
namespace {

// The bound of the ICU implementation, kept here so that both refuse the same texts.
constexpr std::size_t kMaxBytes = INT32_MAX / 4;

// The shared strict check decides what is well-formed, not Foundation's decoder, so that both
// implementations refuse the same bytes.
NSString* _Nullable decode(std::string_view text) {
  if (text.size() > kMaxBytes || !isValidUtf8(text))
    return nil;
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

// Only called on strings decode made or Foundation built from them, which have a UTF-8 form.
std::optional<std::string> encode(NSString* _Nullable text) {
  if (text == nil)
    return std::nullopt;
  NSData* data = [text dataUsingEncoding:NSUTF8StringEncoding];
  if (data == nil)
    return std::nullopt;
  if (data.length == 0)
    return std::string();
  return std::string(static_cast<const char*>(data.bytes), data.length);
}

// Apple documents the whitespace-and-newline set as Z*, U+000A to U+000D and U+0085, and names
// U+0009 only in the whitespace set; their union is the set the header promises.
NSCharacterSet* trimmedCharacters() {
  NSMutableCharacterSet* set = [NSMutableCharacterSet whitespaceAndNewlineCharacterSet];
  [set formUnionWithCharacterSet:[NSCharacterSet whitespaceCharacterSet]];
  return set;
}

}  // namespace

std::optional<std::string> trimTitle(std::string_view text) {
  @autoreleasepool {
    NSString* decoded = decode(text);
    if (decoded == nil)
      return std::nullopt;
    return encode([decoded stringByTrimmingCharactersInSet:trimmedCharacters()]);
  }
}

std::optional<std::string> lowerCaseTitle(std::string_view text) {
  @autoreleasepool {
    if (text.size() > kMaxBytes || !isValidUtf8(text))
      return std::nullopt;
    std::string lowered;
    lowered.reserve(text.size());
    // One code point per call: the whole string at once would let the system apply context rules
    // such as the final sigma. lowercaseString is the canonical mapping, with no locale.
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t length = utf8SequenceLength(text.substr(i));
      if (length == 0)
        return std::nullopt;
      const std::optional<std::string> mapped =
          encode(decode(text.substr(i, length)).lowercaseString);
      if (!mapped)
        return std::nullopt;
      lowered += *mapped;
      i += length;
    }
    return lowered;
  }
}

bool sameTitle(std::string_view a, std::string_view b) {
  @autoreleasepool {
    NSString* left = decode(a);
    NSString* right = decode(b);
    if (left == nil || right == nil)
      return false;
    // A literal comparison of the NFC forms: canonical equivalence and nothing more.
    return [left.precomposedStringWithCanonicalMapping
        isEqualToString:right.precomposedStringWithCanonicalMapping];
  }
}

}  // namespace tembra
