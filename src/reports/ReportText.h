// Conversions the order and fill reports share: note tags, uniform symbols, times, dates,
// strike prices and status texts.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/cstring.h"

namespace kdx {

// A decimal integer as _wtol reads it: leading blanks, a sign, digits up to the first other
// character; 0 when there are none. Saturates instead of overflowing.
long ParseDecimal(TextView text);

// A component number truncated toward zero into a record's 64-bit field: nothing for NaN and
// infinities, the nearest representable value beyond the range (never the absent marker).
std::optional<int64_t> TruncateToInt64(double value);

// The value of tag 0 (field 14) or tags 1 to 9 (fields 40 to 48) of an order note; a note
// without any tag is its own value.
CString ExtractNoteTag(const CString& text, long nField);

// A component symbol in the uniform dotted form: type 1 stock, 2 futures, 3 options code.
CString ToUniformSymbol(const CString& text, long type);

// "093015" -> "09:30:15", "20240105" -> "2024/01/05".
CString FormatTime(CString text);
CString FormatDate(CString text);

// A strike in thousandths as the shortest decimal text: 15500 -> "15.5", 16000 -> "16".
CString StrikeText(long value);

// The order's state from its error code, status code, remaining and filled quantities.
enum class OrderState { None, Failed, ServerReceived, Preorder, SentToGateway, BackOfficeReceived,
                        FullyFilled, Cancelled, PartiallyFilled, Accepted };
OrderState GetOrderState(const CString& errorCode, long long status, long long remaining, long long filled);

// The texts of a state: English, the fixed Chinese literal, or the string resource.
enum class StatusWords { English, Literal, Resource };
CString OrderStatusText(OrderState state, StatusWords words);

}  // namespace kdx
