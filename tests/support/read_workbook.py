#!/usr/bin/env python3
"""Reads an .xlsx workbook with nothing but the standard library (zipfile and an XML
parser), independently of the program that wrote it, and prints as JSON what a reader
sees: the sheet names and, for the first sheet, every cell's text and whether it is bold
and wraps, the column widths and the row heights."""
import json
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

NS = {
    "m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main",
    "r": "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
    "rel": "http://schemas.openxmlformats.org/package/2006/relationships",
}


def column_index(letters):
    index = 0
    for letter in letters:
        index = index * 26 + (ord(letter) - ord("A") + 1)
    return index - 1


def text_of(element):
    # A rich or plain string item: the text of every <t> inside, in order, with the
    # "_xHHHH_" escapes of characters XML cannot hold decoded.
    text = "".join(t.text or "" for t in element.iter("{%s}t" % NS["m"]))
    return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda match: chr(int(match.group(1), 16)), text)


def main(path):
    with zipfile.ZipFile(path) as archive:
        if archive.testzip() is not None:
            raise SystemExit("damaged archive member")
        workbook = ET.fromstring(archive.read("xl/workbook.xml"))
        rels = ET.fromstring(archive.read("xl/_rels/workbook.xml.rels"))
        targets = {rel.get("Id"): rel.get("Target") for rel in rels.findall("rel:Relationship", NS)}
        sheets = workbook.findall("m:sheets/m:sheet", NS)
        names = [sheet.get("name") for sheet in sheets]
        first = "xl/" + targets[sheets[0].get("{%s}id" % NS["r"])].lstrip("/").removeprefix("xl/")

        shared = []
        if "xl/sharedStrings.xml" in archive.namelist():
            sst = ET.fromstring(archive.read("xl/sharedStrings.xml"))
            shared = [text_of(si) for si in sst.findall("m:si", NS)]

        styles = ET.fromstring(archive.read("xl/styles.xml"))
        fonts = styles.findall("m:fonts/m:font", NS)
        bold_fonts = [font.find("m:b", NS) is not None for font in fonts]
        xfs = styles.findall("m:cellXfs/m:xf", NS)

        def style(index):
            xf = xfs[index]
            alignment = xf.find("m:alignment", NS)
            return {
                "bold": bold_fonts[int(xf.get("fontId", "0"))],
                "wrap": alignment is not None and alignment.get("wrapText") in ("1", "true"),
            }

        sheet = ET.fromstring(archive.read(first))
        cells = []
        for cell in sheet.iter("{%s}c" % NS["m"]):
            match = re.fullmatch(r"([A-Z]+)([0-9]+)", cell.get("r"))
            kind = cell.get("t", "n")
            value = cell.find("m:v", NS)
            if kind == "s":
                text = shared[int(value.text)]
            elif kind == "inlineStr":
                text = text_of(cell.find("m:is", NS))
            else:
                text = value.text if value is not None and value.text is not None else ""
            entry = {"row": int(match.group(2)) - 1, "col": column_index(match.group(1)), "text": text, "type": kind}
            entry.update(style(int(cell.get("s", "0"))))
            cells.append(entry)
        widths = [
            {"min": int(col.get("min")) - 1, "max": int(col.get("max")) - 1, "width": float(col.get("width"))}
            for col in sheet.findall("m:cols/m:col", NS)
        ]
        heights = {
            int(row.get("r")) - 1: float(row.get("ht")) for row in sheet.iter("{%s}row" % NS["m"]) if row.get("ht")
        }
    print(json.dumps({"sheets": names, "cells": cells, "widths": widths, "heights": heights}))


if __name__ == "__main__":
    main(sys.argv[1])
