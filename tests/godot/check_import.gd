# Run by Godot 3 with -s in a project where its editor has imported a .glb:
# reads the imported scene and checks it against the .glb's own JSON. One
# Godot surface per glTF primitive, normals on every surface, a texture on
# each textured material, the nodes' and materials' names kept. Prints a
# line per failure and "N passed, N failed"; quits with 1 on any failure.
#   godot3-server --path PROJECT -s check_import.gd --glb=NAME.glb
extends SceneTree

var passed = 0
var failed = 0

func expect(condition, what):
	if condition:
		passed += 1
	else:
		failed += 1
		print("FAILED: ", what)

func glb_json(path):
	var file = File.new()
	file.open(path, File.READ)
	file.get_32()
	file.get_32()
	file.get_32()
	var length = file.get_32()
	file.get_32()
	var text = file.get_buffer(length).get_string_from_utf8()
	file.close()
	return JSON.parse(text).result

func meshes_by_name(node, found):
	if node is MeshInstance:
		found[node.name] = node.mesh
	for child in node.get_children():
		meshes_by_name(child, found)
	return found

func _init():
	var glb = "res://sample.glb"
	for argument in OS.get_cmdline_args():
		if argument.begins_with("--glb="):
			glb = "res://" + argument.substr(6)
	var json = glb_json(glb)
	var scene = load(glb)
	expect(scene != null, "the imported scene loads")
	if scene == null:
		quit(1)
		return
	var meshes = meshes_by_name(scene.instance(), {})
	for node in json["nodes"]:
		if not node.has("mesh"):
			continue
		var primitives = json["meshes"][node["mesh"]]["primitives"]
		expect(meshes.has(node["name"]), "a mesh named " + node["name"])
		if not meshes.has(node["name"]):
			continue
		var mesh = meshes[node["name"]]
		expect(mesh.get_surface_count() == primitives.size(),
			"%s: %d surfaces for %d primitives" % [node["name"], mesh.get_surface_count(), primitives.size()])
		for s in range(min(mesh.get_surface_count(), primitives.size())):
			var arrays = mesh.surface_get_arrays(s)
			var normals = arrays[Mesh.ARRAY_NORMAL]
			expect(normals != null and normals.size() == arrays[Mesh.ARRAY_VERTEX].size(),
				"%s surface %d: a normal at every vertex" % [node["name"], s])
			var material = mesh.surface_get_material(s)
			var source = json["materials"][primitives[s]["material"]]
			expect(material != null and material.resource_name == source["name"],
				"%s surface %d: material %s" % [node["name"], s, source["name"]])
			var textured = source["pbrMetallicRoughness"].has("baseColorTexture")
			expect(material != null and (material.albedo_texture != null) == textured,
				"%s surface %d: a texture exactly where %s has one" % [node["name"], s, source["name"]])
	print("%d passed, %d failed" % [passed, failed])
	quit(1 if failed > 0 else 0)
