"use strict";
// How the driver's values are typed, read from text and written back: no page, no DOM.
// The decoded values come from the native side as lists of {name, dataType, value,
// arrayValue}; what goes back are the entries of a write ({propName, value, bitValue,
// arrayValue}), the same entries that `wynfc write --values` reads.
(function (global) {
  const TYPE_RANGES = {
    byte: [0, 255],
    short: [0, 65535],
    smallint: [0, 16777215],
    // The driver keeps bit 31 of its 32-bit values clear.
    int: [0, 2147483647],
  };

  function isIntegerType(dataType) {
    return Object.prototype.hasOwnProperty.call(TYPE_RANGES, dataType);
  }

  // A whole number typed by a person: decimal, or hexadecimal after "0x".
  function parseWhole(text) {
    const t = String(text).trim();
    if (/^[0-9]+$/.test(t)) return { value: Number(t) };
    if (/^0[xX][0-9a-fA-F]+$/.test(t)) return { value: parseInt(t.substring(2), 16) };
    if (/^-[0-9]+$/.test(t)) return { error: "Enter a number of zero or more." };
    if (/^[+-]?[0-9]*[.,][0-9]+$/.test(t)) return { error: "Enter a whole number, without a decimal point." };
    return { error: t === "" ? "Enter a number." : "Enter a whole number, such as 42." };
  }

  // Unsigned decimal digits, of any length (a GTIN does not fit a double).
  function parseDigits(text) {
    const t = String(text).trim();
    if (t === "") return { error: "Enter a number." };
    if (!/^[0-9]+$/.test(t)) return { error: "Enter digits only (0 to 9)." };
    return { value: BigInt(t) };
  }

  // Bytes typed in hexadecimal: "0x1F, 0xA0", "1f a0" or "1F,A0,".
  function parseHexBytes(text) {
    const pieces = String(text).trim().split(/[\s,]+/).filter((p) => p !== "");
    if (pieces.length === 0) return { error: "Enter the bytes in hexadecimal, such as 0x1F, 0xA0." };
    const bytes = [];
    for (const piece of pieces) {
      const digits = piece.replace(/^0[xX]/, "");
      if (!/^[0-9a-fA-F]{1,2}$/.test(digits)) {
        return { error: "\u201c" + piece + "\u201d is not a byte in hexadecimal (00 to FF)." };
      }
      bytes.push(parseInt(digits, 16));
    }
    return { value: bytes };
  }

  // The library's byte text, "0x57,0x59," (a comma after every byte), and back.
  function byteText(bytes) {
    return bytes.map((b) => "0x" + b.toString(16).toUpperCase().padStart(2, "0") + ",").join("");
  }
  function bytesOfByteText(text) {
    const parsed = parseHexBytes(text || "");
    return parsed.value || [];
  }
  function hexDisplay(bytes) {
    return bytes.map((b) => b.toString(16).toUpperCase().padStart(2, "0")).join(" ");
  }

  // Text kept in bytes, padded with zero bytes; null when the bytes are not such text.
  function textOfBytes(bytes) {
    let end = bytes.length;
    while (end > 0 && bytes[end - 1] === 0) end -= 1;
    let text = "";
    for (let i = 0; i < end; i += 1) {
      if (bytes[i] < 0x20 || bytes[i] > 0x7e) return null;
      text += String.fromCharCode(bytes[i]);
    }
    return text;
  }
  function parseText(text, count) {
    const t = String(text);
    for (const ch of t) {
      const code = ch.codePointAt(0);
      if (code < 0x20 || code > 0x7e) {
        return { error: "Use plain letters, digits, spaces and punctuation (ASCII); \u201c" + ch + "\u201d cannot be stored." };
      }
    }
    if (t.length > count) return { error: "At most " + count + " characters; this is " + t.length + "." };
    const bytes = [];
    for (let i = 0; i < count; i += 1) bytes.push(i < t.length ? t.charCodeAt(i) : 0);
    return { value: bytes };
  }

  // GS1 check digit of a GTIN-8/12/13/14.
  function gtinCheckError(digits) {
    const t = digits.toString();
    if (t === "0") return null;
    if (![8, 12, 13, 14].includes(t.length)) return "A GTIN has 8, 12, 13 or 14 digits; this has " + t.length + ".";
    let sum = 0;
    for (let i = t.length - 2, weight = 3; i >= 0; i -= 1, weight = 4 - weight) sum += Number(t[i]) * weight;
    const check = (10 - (sum % 10)) % 10;
    return Number(t[t.length - 1]) === check ? null : "The last digit (check digit) should be " + check + "; check the number for a typo.";
  }

  function sameValue(a, b) {
    if (Array.isArray(a) && Array.isArray(b)) return a.length === b.length && a.every((x, i) => x === b[i]);
    return a === b;
  }

  global.WyValues = {
    TYPE_RANGES, isIntegerType, parseWhole, parseDigits, parseHexBytes, byteText, bytesOfByteText,
    hexDisplay, textOfBytes, parseText, gtinCheckError, sameValue,
  };
})(window);
