"""The nineteen repairs as a CPython user writes them: read the file, apply
str.replace once per row of the letter table, write the result."""
import re
import sys

table, source, target = sys.argv[1:4]
rows = re.findall(r'\{u"((?:\\u[0-9A-F]{4})+)", u"\\u([0-9A-F]{4})"\}', open(table).read())
rows = [(re.sub(r"\\u([0-9A-F]{4})", lambda m: chr(int(m.group(1), 16)), search),
         chr(int(replacement, 16))) for search, replacement in rows]
with open(source, encoding="utf-8", errors="surrogateescape") as f:
    text = f.read()
for search, replacement in rows:
    text = text.replace(search, replacement)
with open(target, "w", encoding="utf-8", errors="surrogateescape") as f:
    f.write(text)
