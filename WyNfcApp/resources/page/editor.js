"use strict";
// The driver on the page: the areas read, their values, the user's changes, and what a
// write or a profile holds. No DOM here; the view draws what this holds.
(function (global) {
  const V = global.WyValues;
  const { Field } = global.WyField;

  // The page key under which a read reports each area.
  const AREA_OF_KEY = {
    memory_bank_01_data: "nfc_data_addr_dc_memory_bank_01",
    memory_bank_207_data: "nfc_data_addr_dc_memory_bank_207",
    memory_bank_01_light_distribution_data: "nfc_data_addr_mb1_light_distribution",
    aoc_data: "nfc_data_addr_dc_aoc",
    clo_data: "nfc_data_addr_dc_clo",
    clo2_data: "nfc_data_addr_dc_clo2",
    corridor_data: "nfc_data_addr_dc_corridor",
    dimming_limit_data: "nfc_data_addr_dc_dim_percentage_limit",
    dimming_limit2_data: "nfc_data_addr_dc_dim_percentage_limit2",
    dc_emergency_data: "nfc_data_addr_dc_diagnostics_set",
    dc_emergency2_data: "nfc_data_addr_dc_diagnostics_set2",
    diagnostics_data: "nfc_data_addr_dc_diagnostics_read",
    diagnostics2_data: "nfc_data_addr_dc_diagnostics_read2",
    lamp_on_time_data: "nfc_data_addr_dc_diagnostics_set",
    lamp_on_time2_data: "nfc_data_addr_dc_diagnostics_set2",
    dali_setting_data: "nfc_data_addr_dc_dali_setting",
    dali_setting2_data: "nfc_data_addr_dc_dali_setting2",
    dali_address_data: "nfc_data_addr_dc_dali_addressing",
    warm_cold_white_data: "nfc_data_addr_dc_ww_cw",
    start_up_time_data: "nfc_data_addr_dc_start_up_time",
  };
  const IDENTIFICATION = "nfc_data_addr_dc_product_identification";
  const PROPERTIES = "nfc_data_addr_led_product_properties";
  const CAPABILITIES = "nfc_data_addr_dc_capabilities_options";
  const GTIN = "nfc_data_addr_driver_gtin";
  // Reported with the product description, never written from the page.
  const DESCRIPTION_AREAS = [IDENTIFICATION, CAPABILITIES, PROPERTIES, GTIN];

  function parseList(text) {
    const list = JSON.parse(text);
    if (list === null) return [];
    if (!Array.isArray(list)) throw new Error("not a list of values");
    return list.filter((v) => v && typeof v === "object" && typeof v.name === "string");
  }

  class Editor {
    constructor() {
      this.map = null;        // area name -> {name, items: [{name, dataType, bytes, bits}]}
      this.catalogue = null;  // {groups, areas}
      this.areas = new Map(); // area name -> {name, fields: Map(item -> Field), order}
      this.driver = null;     // {deviceType, subType}
      this.sent = null;       // paths of the changes last sent, until read back
    }

    setPageData(data) {
      this.map = null;
      if (data && data.map && Array.isArray(data.map.mapping)) {
        this.map = new Map(data.map.mapping.map((a) => [a.name, a]));
      }
      this.catalogue = data && data.catalogue && data.catalogue.areas ? data.catalogue : null;
    }

    // Page data that came after values were shown: the values again, described this time,
    // with the user's typing kept.
    redescribe() {
      const typed = new Map(this.fields().filter((f) => f.editable && f.changed).map((f) => [f.path, f.input]));
      for (const area of this.sortedAreas()) {
        area.fields.clear();
        this.setArea(area.name, area.list);
      }
      for (const [path, input] of typed) {
        const f = this.field(path);
        if (f && f.editable) f.setInput(input);
      }
      this.validate();
    }

    areaEntry(area) {
      return (this.catalogue && this.catalogue.areas[area]) || null;
    }
    mapItem(area, item) {
      const a = this.map && this.map.get(area);
      return a ? a.items.find((i) => i.name === item) || null : null;
    }

    // A new read begins with the driver's identification. Another kind of driver drops the
    // values and changes of the last one: they would not fit it. Returns what was dropped.
    setIdentification(text) {
      const list = parseList(text);
      const valueOf = (name) => (list.find((v) => v.name === name) || {}).value;
      const driver = { deviceType: valueOf("device_type"), subType: valueOf("device_sub_type") };
      let dropped = 0;
      if (this.driver && (this.driver.deviceType !== driver.deviceType || this.driver.subType !== driver.subType)) {
        dropped = this.changedFields().length;
        this.areas.clear();
        this.sent = null;
      }
      this.driver = driver;
      this.setArea(IDENTIFICATION, list);
      return { dropped };
    }

    // "spec": capability list, product properties and GTIN, joined with "#".
    setSpec(text) {
      const parts = text.split("#");
      [CAPABILITIES, PROPERTIES, GTIN].forEach((area, i) => {
        if (parts[i] !== undefined && parts[i] !== "") this.setArea(area, parseList(parts[i]));
      });
    }

    // Values of one area, as read. Returns {area, reached, kept}: changes now on the driver,
    // and changes that still differ from it.
    setArea(name, list) {
      let area = this.areas.get(name);
      const fresh = !area;
      if (fresh) {
        area = { name, fields: new Map(), order: this.areas.size };
        this.areas.set(name, area);
      }
      area.list = list;
      const editableArea = !DESCRIPTION_AREAS.includes(name) && !(this.areaEntry(name) || {}).readOnly;
      const entries = (this.areaEntry(name) || {}).items || {};
      let reached = 0;
      let kept = 0;
      let reshaped = false; // values that need controls of their own
      let bits = [];
      for (const item of list) {
        if (item.dataType === "binary") {
          bits.push(item);
          continue;
        }
        const made = new Field(item, bits, {
          area: name, entry: entries[item.name], mapItem: this.mapItem(name, item.name), editableArea, editor: this,
        });
        const existing = area.fields.get(item.name);
        if (existing && existing.kind === made.kind && existing.dataType === made.dataType &&
            existing.bits.length === made.bits.length) {
          const outcome = existing.reread(item);
          reached += outcome.reached ? 1 : 0;
          kept += outcome.kept ? 1 : 0;
        } else {
          area.fields.set(item.name, made);
          reshaped = true;
        }
        bits = [];
      }
      this.validate();
      return { area: name, fresh: fresh || reshaped, reached, kept };
    }

    field(path) {
      const dot = path.indexOf(".");
      const area = this.areas.get(path.substring(0, dot));
      return area ? area.fields.get(path.substring(dot + 1)) || null : null;
    }
    fields() {
      const all = [];
      for (const area of this.sortedAreas()) for (const f of area.fields.values()) all.push(f);
      return all;
    }
    sortedAreas() {
      return [...this.areas.values()].sort((a, b) => a.order - b.order);
    }

    // The number a bound names, as edited when valid, else as read.
    numberAt(path) {
      const f = this.field(path);
      if (!f) return null;
      const v = f.current !== null && f.current !== undefined ? f.current : f.original;
      return typeof v === "number" ? v : null;
    }
    isChanged(path) {
      const f = this.field(path);
      return !!f && f.editable && f.changed;
    }

    validate() {
      for (const f of this.fields()) f.validate();
    }

    changedFields() {
      return this.fields().filter((f) => f.editable && f.changed);
    }
    invalidFields() {
      return this.fields().filter((f) => f.error);
    }
    canWrite() {
      return this.driver !== null && this.changedFields().length > 0 && this.invalidFields().length === 0;
    }

    // "<device type>,<sub type>:<areas with their changed entries>", areas in the order read.
    writeData() {
      const list = [];
      for (const area of this.sortedAreas()) {
        const data = [];
        for (const f of area.fields.values()) if (f.editable) data.push(...f.entries());
        if (data.length) list.push({ name: area.name, data });
      }
      return this.driver.deviceType + "," + this.driver.subType + ":" + JSON.stringify(list);
    }

    // A write was sent: remember its changes until a read shows whether they arrived.
    markSent() {
      this.sent = new Set(this.changedFields().map((f) => f.path));
    }

    // The editable values as a profile: the list of areas with whole-value entries that
    // `wynfc write --values` reads and Import takes back.
    profile() {
      const list = [];
      for (const area of this.sortedAreas()) {
        const data = [];
        for (const f of area.fields.values()) {
          if (f.inProfile && f.current !== null) data.push(f.wholeEntry(f.current));
        }
        if (data.length) list.push({ name: area.name, data });
      }
      return list;
    }

    // Checks a profile against the map and this driver and, when every entry is sound,
    // applies it as changes. Returns {problems, applied, unchanged, skippedAreas}.
    importProfile(text) {
      let list;
      try {
        list = JSON.parse(text);
      } catch (e) {
        return { problems: ["The file is not JSON: " + e.message] };
      }
      if (!Array.isArray(list)) return { problems: ["A profile is a list of areas, each with its \u201cname\u201d and \u201cdata\u201d."] };
      const problems = [];
      const planned = [];
      const skippedAreas = [];
      list.forEach((group, i) => {
        if (!group || typeof group.name !== "string" || !Array.isArray(group.data)) {
          problems.push("Entry " + (i + 1) + " is not an area with a \u201cname\u201d and a \u201cdata\u201d list.");
          return;
        }
        const mapArea = this.map ? this.map.get(group.name) : null;
        const area = this.areas.get(group.name);
        if (this.map && !mapArea) {
          problems.push("Unknown area \u201c" + group.name + "\u201d.");
          return;
        }
        for (const entry of group.data) {
          const problem = this.checkProfileEntry(group.name, mapArea, area, entry, planned);
          if (problem) problems.push(problem);
        }
        if (!area && !this.map) problems.push("Unknown area \u201c" + group.name + "\u201d.");
        else if (!area) skippedAreas.push(group.name);
      });
      if (problems.length) return { problems };
      let applied = 0;
      let unchanged = 0;
      for (const step of planned) {
        const before = step.field.current;
        step.apply();
        if (V.sameValue(before, step.field.current)) unchanged += 1;
        else applied += 1;
      }
      this.validate();
      return { problems: [], applied, unchanged, skippedAreas };
    }

    checkProfileEntry(areaName, mapArea, area, entry, planned) {
      if (!entry || typeof entry.propName !== "string") return areaName + ": an entry has no \u201cpropName\u201d.";
      const where = areaName + "." + entry.propName;
      const dot = entry.propName.indexOf(".");
      const itemName = dot < 0 ? entry.propName : entry.propName.substring(0, dot);
      const bitName = dot < 0 ? null : entry.propName.substring(dot + 1);
      const mapItem = mapArea ? mapArea.items.find((it) => it.name === itemName) : null;
      if (mapArea && !mapItem) return "Unknown item \u201c" + where + "\u201d: this driver's memory map has no such value.";
      if (bitName !== null && mapItem && !(mapItem.bits || []).some((b) => b.name === bitName)) {
        return "Unknown item \u201c" + where + "\u201d: " + itemName + " has no such bit.";
      }
      if (!area) return null; // an area this driver does not have: skipped, not refused
      const field = area.fields.get(itemName);
      if (!field) return "Unknown item \u201c" + where + "\u201d.";
      if (!field.editable) return "\u201c" + where + "\u201d (" + field.label + ") cannot be changed.";
      if (bitName !== null) {
        if (field.kind !== "bits" || (entry.bitValue !== 0 && entry.bitValue !== 1)) {
          return where + ": a bit is written with \u201cbitValue\u201d 0 or 1.";
        }
        planned.push({ field, apply: () => field.setBit(bitName, entry.bitValue === 1) });
        return null;
      }
      let text;
      if (field.kind === "bigint" || field.kind === "hex" || field.kind === "text") {
        if (typeof entry.arrayValue !== "string") return where + ": needs its \u201carrayValue\u201d text.";
        if (field.kind === "bigint") text = entry.arrayValue;
        else {
          const bytes = V.parseHexBytes(entry.arrayValue);
          if (bytes.error || bytes.value.length !== field.byteCount) {
            return where + ": needs exactly " + field.byteCount + " bytes in \u201carrayValue\u201d.";
          }
          text = field.inputText(bytes.value);
          if (field.kind === "text" && V.textOfBytes(bytes.value) === null) {
            return where + ": the bytes are not text.";
          }
        }
      } else if (Number.isInteger(entry.value) && entry.value >= 0) {
        text = String(entry.value);
      } else {
        return where + ": \u201cvalue\u201d must be a whole number of zero or more.";
      }
      const parsed = field.parse(text);
      if (parsed.error) return where + ": " + parsed.error;
      planned.push({ field, apply: () => field.setInput(text) });
      return null;
    }

    // After a read: which of the changes last sent are now on the driver.
    settleSent(areaName) {
      if (!this.sent) return null;
      for (const path of [...this.sent]) {
        if (!path.startsWith(areaName + ".")) continue;
        this.sent.delete(path);
        if (!this.isChanged(path)) this.sentReached = (this.sentReached || 0) + 1;
        else this.sentMissed = (this.sentMissed || 0) + 1;
      }
      if (this.sent.size > 0) return null;
      const result = { reached: this.sentReached || 0, missed: this.sentMissed || 0 };
      this.sent = null;
      this.sentReached = 0;
      this.sentMissed = 0;
      return result;
    }
  }

  global.WyEditor = { Editor, AREA_OF_KEY, IDENTIFICATION, PROPERTIES, CAPABILITIES, GTIN };
})(window);
