"use strict";
// One value of the driver as the page edits it: what was read, what the user made of it,
// whether that can be written, and the entries that write it.
(function (global) {
  const V = global.WyValues;

  function humanName(raw) {
    const words = String(raw).replace(/_/g, " ").trim();
    return words.charAt(0).toUpperCase() + words.substring(1);
  }

  function bitSet(value, bit) {
    return Math.floor(value / 2 ** bit) % 2 === 1;
  }
  function withBit(value, bit, on) {
    return bitSet(value, bit) === on ? value : value + (on ? 1 : -1) * 2 ** bit;
  }

  class Field {
    // item: the decoded item {name, dataType, value, arrayValue}; bits: its decoded bits;
    // context: {area, areaEntry, entry, mapItem, editableArea, editor}.
    constructor(item, bits, context) {
      this.area = context.area;
      this.name = item.name;
      this.path = context.area + "." + item.name;
      this.dataType = item.dataType;
      this.editor = context.editor;
      this.entry = context.entry || null;
      this.mapItem = context.mapItem || null;
      this.label = this.entry ? this.entry.label : item.name === "reserve" ? "Reserved" : humanName(item.name);
      this.help = this.entry ? this.entry.help || "" : item.name === "reserve" ? "Not used; left as the driver holds it." : "";
      this.unit = this.entry && this.entry.unit ? this.entry.unit : "";
      this.bits = this.describeBits(bits);
      this.kind = this.kindOf(item);
      this.editable = this.kind !== "fixed" && context.editableArea && item.name !== "reserve" &&
        !(this.entry && this.entry.readOnly);
      this.inProfile = this.editable && !(this.entry && this.entry.profile === false);
      this.original = this.valueOfItem(item);
      this.setValue(this.original);
    }

    describeBits(bits) {
      const mapBits = this.mapItem && Array.isArray(this.mapItem.bits) ? this.mapItem.bits : [];
      const entries = this.entry && this.entry.bits ? this.entry.bits : {};
      return bits.map((b) => {
        const mapBit = mapBits.find((m) => m.name === b.name);
        const entry = entries[b.name];
        return {
          name: b.name,
          bit: mapBit ? mapBit.bit : null,
          label: entry ? entry.label : humanName(b.name),
          help: entry ? entry.help || "" : "",
        };
      });
    }

    kindOf(item) {
      if (V.isIntegerType(item.dataType) && typeof item.value === "number") {
        if (this.bits.length > 0) return this.bits.every((b) => b.bit !== null) ? "bits" : "fixed";
        return this.entry && this.entry.choices ? "choice" : "number";
      }
      if (item.dataType === "bigint" && typeof item.arrayValue === "string") {
        this.byteCount = this.runLength();
        // The library writes runs of 6 to 8 bytes; anything else could not be written back.
        return this.byteCount >= 6 && this.byteCount <= 8 ? "bigint" : "fixed";
      }
      if (item.dataType === "array" && typeof item.arrayValue === "string") {
        this.byteCount = V.bytesOfByteText(item.arrayValue).length;
        const bytes = V.bytesOfByteText(item.arrayValue);
        if (this.entry && this.entry.text === "ascii" && V.textOfBytes(bytes) !== null) return "text";
        return "hex";
      }
      return "fixed";
    }

    runLength() {
      const b = this.mapItem && this.mapItem.bytes;
      return Array.isArray(b) && b.length === 2 && b[1] >= b[0] ? b[1] - b[0] + 1 : 0;
    }

    valueOfItem(item) {
      switch (this.kind) {
        case "number": case "choice": case "bits": return item.value;
        case "bigint": return /^[0-9]+$/.test(item.arrayValue) ? BigInt(item.arrayValue) : 0n;
        case "text": case "hex": return V.bytesOfByteText(item.arrayValue);
        default: return item.arrayValue !== undefined ? item.arrayValue : item.value;
      }
    }

    // The text a control shows for a value.
    inputText(value) {
      switch (this.kind) {
        case "bigint": return value.toString();
        case "text": return V.textOfBytes(value) || "";
        case "hex": return V.hexDisplay(value);
        default: return value === undefined ? "" : String(value);
      }
    }

    setValue(value) {
      this.current = value;
      this.input = this.inputText(value);
      this.parseError = null;
    }

    setInput(text) {
      this.input = String(text);
      const parsed = this.parse(this.input);
      this.parseError = parsed.error || null;
      this.current = parsed.error ? null : parsed.value;
    }

    parse(text) {
      switch (this.kind) {
        case "number": case "choice": case "bits": return V.parseWhole(text);
        case "bigint": return V.parseDigits(text);
        case "text": return V.parseText(text, this.byteCount);
        case "hex": {
          const parsed = V.parseHexBytes(text);
          if (parsed.error) return parsed;
          if (parsed.value.length !== this.byteCount) {
            return { error: "Needs exactly " + this.byteCount + " bytes; you entered " + parsed.value.length + "." };
          }
          return parsed;
        }
        default: return { error: "This value cannot be changed." };
      }
    }

    setBit(name, on) {
      const bit = this.bits.find((b) => b.name === name);
      if (!bit || this.current === null) return;
      this.setValue(withBit(this.current, bit.bit, on));
    }
    bitValue(name, value = this.current) {
      const bit = this.bits.find((b) => b.name === name);
      return bit && typeof value === "number" ? bitSet(value, bit.bit) : false;
    }

    revert() { this.setValue(this.original); }

    get changed() {
      return this.current === null || !V.sameValue(this.current, this.original);
    }

    // The bounds of a number: the type's, narrowed by the catalogue; bounds that name
    // another value follow that value as read or edited.
    limits() {
      const [typeMin, typeMax] = V.TYPE_RANGES[this.dataType] || [0, 0];
      const e = this.entry || {};
      const bound = (b) => (typeof b === "number" ? b : typeof b === "string" ? this.editor.numberAt(b) : null);
      let min = typeMin;
      let max = typeMax;
      const low = bound(e.min);
      const high = bound(e.max);
      if (low !== null && low > min) min = low;
      if (high !== null && high < max) max = high;
      return { min, max, special: e.special || {}, choices: e.choices || null };
    }

    // Which other values this one's bounds follow.
    boundPaths() {
      const e = this.entry || {};
      return [e.min, e.max].filter((b) => typeof b === "string");
    }

    // Why the value cannot be written, or null.
    problemWith(value) {
      if (value === null) return this.parseError;
      if (this.kind === "bits") {
        const [min, max] = V.TYPE_RANGES[this.dataType];
        if (value < min || value > max) return "Must be from " + min + " to " + max + ".";
      }
      if (this.kind === "number" || this.kind === "choice") {
        const { min, max, special, choices } = this.limits();
        if (choices) {
          return Object.prototype.hasOwnProperty.call(choices, String(value)) ? null
            : "Choose one of the listed settings.";
        }
        if (Object.prototype.hasOwnProperty.call(special, String(value))) return null;
        if (value < min || value > max) {
          const unit = this.unit ? " " + this.unit : "";
          const specials = Object.keys(special).map((k) => k + " (" + special[k] + ")");
          return "Must be from " + min + " to " + max + unit +
            (specials.length ? ", or " + specials.join(" or ") : "") + ".";
        }
      }
      if (this.kind === "bigint") {
        if (value >= 256n ** BigInt(this.byteCount)) {
          return "Too large: at most " + (256n ** BigInt(this.byteCount) - 1n).toString() + ".";
        }
        if (this.entry && this.entry.check === "gtin") return V.gtinCheckError(value);
      }
      return null;
    }

    // The problem to show: a change that cannot be written is an error that stops the write;
    // a value that only came from the driver is a note.
    validate() {
      this.error = null;
      this.note = null;
      if (!this.editable) return;
      const dependsOnChange = this.boundPaths().some((p) => this.editor.isChanged(p));
      if (this.changed || dependsOnChange) {
        this.error = this.problemWith(this.current);
      } else {
        const problem = this.problemWith(this.original);
        if (problem) this.note = "The driver holds a value outside the usual range. " + problem;
      }
    }

    // The entries that write this change, in the form of the write request.
    entries() {
      if (!this.changed || this.current === null) return [];
      const item = this.name;
      if (this.kind === "bits") {
        const bit = (b) => 2 ** b.bit;
        const named = this.bits.reduce((sum, b) => sum + bit(b), 0);
        const unnamed = (v) => v - this.bits.reduce((sum, b) => sum + (bitSet(v, b.bit) ? bit(b) : 0), 0);
        if (unnamed(this.current) !== unnamed(this.original) || named === 0) {
          return [{ propName: item, value: this.current }];
        }
        // Each entry carries the value as it stands once the entries before it are written.
        const list = [];
        let value = this.original;
        for (const b of this.bits) {
          const on = bitSet(this.current, b.bit);
          if (bitSet(value, b.bit) === on) continue;
          list.push({ propName: item + "." + b.name, value, bitValue: on ? 1 : 0 });
          value = withBit(value, b.bit, on);
        }
        return list;
      }
      return [this.wholeEntry(this.current)];
    }

    wholeEntry(value) {
      switch (this.kind) {
        case "bigint": return { propName: this.name, value: 0, arrayValue: value.toString() };
        case "text": case "hex": return { propName: this.name, value: 0, arrayValue: V.byteText(value) };
        default: return { propName: this.name, value };
      }
    }

    // A value as a person reads it, with its unit or its name.
    describe(value = this.current) {
      if (value === null) return this.input;
      const e = this.entry || {};
      switch (this.kind) {
        case "bits": {
          const on = this.bits.filter((b) => bitSet(value, b.bit)).map((b) => b.label);
          return on.length ? on.join(", ") : "none";
        }
        case "text": return "\u201c" + V.textOfBytes(value) + "\u201d";
        case "hex": return V.hexDisplay(value);
        case "bigint": return value.toString();
        case "fixed": return typeof value === "string" ? value : String(value);
        default: break;
      }
      if (e.choices && Object.prototype.hasOwnProperty.call(e.choices, String(value))) return e.choices[value];
      if (e.special && Object.prototype.hasOwnProperty.call(e.special, String(value))) {
        return e.special[value] + " (" + value + ")";
      }
      const shown = this.unit ? value + " " + this.unit : String(value);
      const reading = this.reading(value);
      if (!reading) return shown;
      // A version or an address reads best as such; a scaled number shows both.
      return e.display.format ? reading : reading + " (" + shown + ")";
    }

    // The catalogue's human reading of a raw number (0.1 V steps, °C + 60, major.minor).
    reading(value) {
      const d = this.entry && this.entry.display;
      if (!d || typeof value !== "number") return null;
      if (d.format === "version") return Math.floor(value / 256) + "." + (value % 256);
      if (d.format === "hex") return "0x" + value.toString(16).toUpperCase();
      const scaled = value * (d.scale === undefined ? 1 : d.scale) + (d.offset || 0);
      const text = d.decimals ? scaled.toFixed(d.decimals) : String(Math.round(scaled * 1000) / 1000);
      return d.unit ? text + " " + d.unit : text;
    }

    // A new read of the same value: a change the driver now holds is done; any other
    // change stays, now measured against what the driver holds.
    reread(item) {
      const fresh = this.valueOfItem(item);
      const wasChanged = this.changed;
      const reached = wasChanged && this.current !== null && V.sameValue(this.current, fresh);
      const keepInput = wasChanged && !reached;
      this.original = fresh;
      if (!keepInput) this.setValue(fresh);
      return { reached, kept: keepInput };
    }
  }

  global.WyField = { Field, humanName };
})(window);
